// Owners of what GDI and COM hand out to the windows: each releases what it
// holds on every path, so no drawing code deletes, restores or ends by hand.
// The GDI objects, COM pointers and BSTRs use the back end's UniqueAny.
#pragma once

#include "platform/wintypes.h"

#include <ole2.h>

#include "platform/win32/unique_any.h"

// A GDI object (font, brush, bitmap), deleted with DeleteObject.
template <typename T>
struct GdiTraits {
  using Type = T;
  static Type Invalid() { return nullptr; }
  static void Close(Type object) { ::DeleteObject(object); }
};

using UniqueFont = win32::UniqueAny<GdiTraits<HFONT>>;
using UniqueBrush = win32::UniqueAny<GdiTraits<HBRUSH>>;
using UniqueBitmap = win32::UniqueAny<GdiTraits<HBITMAP>>;

// COM interface pointers and BSTRs: the back end's owners.
using win32::ComPtr;
using win32::UniqueBstr;

// BeginPaint / EndPaint.
class PaintDc {
 public:
  explicit PaintDc(HWND window) : window_(window), dc_(::BeginPaint(window, &paint_)) {}
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  ~PaintDc() { ::EndPaint(window_, &paint_); }
  HDC get() const { return dc_; }
  const PAINTSTRUCT& paint() const { return paint_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// GetDC / ReleaseDC; a null window gives the screen.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// CreateCompatibleDC / DeleteDC.
class MemoryDc {
 public:
  explicit MemoryDc(HDC compatibleWith) : dc_(::CreateCompatibleDC(compatibleWith)) {}
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  ~MemoryDc() {
    if (dc_) ::DeleteDC(dc_);
  }
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// SelectObject, with the earlier object put back when it goes.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(dc && object ? ::SelectObject(dc, object) : nullptr) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};
