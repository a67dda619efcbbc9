// One owner for a GObject reference (libgsf's inputs and outputs, libmsi's
// databases, queries and records): the reference is dropped with the owner.
#pragma once

#include <glib-object.h>

#include <memory>

template <typename T>
struct GObjectDeleter {
  void operator()(T* object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectDeleter<T>>;
