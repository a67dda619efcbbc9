// Strict reading of machine descriptions: every member is checked for its
// type and unknown members are refused, so that a typing mistake in a
// description fails loudly instead of describing a different machine. Errors
// read "<json pointer>: <what is wrong>".
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Descriptions keep the order of their members (registry values enumerate in
// the order they were written).
using SimJson = nlohmann::ordered_json;

// The JSON pointer of `member` inside the value at `parent` ("~" and "/" escaped).
std::string JsonPointer(const std::string& parent, const std::string& member);
std::string JsonPointer(const std::string& parent, size_t index);

// Each reader returns false and sets *error on a value of the wrong shape.
bool CheckObject(const SimJson& value, const std::string& pointer,
                 std::initializer_list<std::string_view> allowed, std::string* error);
bool ReadString(const SimJson& value, const std::string& pointer, std::string* out,
                std::string* error);
bool ReadUnsigned(const SimJson& value, const std::string& pointer, uint64_t max, uint64_t* out,
                  std::string* error);
bool ReadBool(const SimJson& value, const std::string& pointer, bool* out, std::string* error);
// A signed 32-bit value given as an integer (negative allowed) or as a hex
// string "0x80004005": the form HRESULTs are written in.
bool ReadHresult(const SimJson& value, const std::string& pointer, int32_t* out,
                 std::string* error);
// Bytes written as hex digits, blanks allowed between bytes.
bool ReadHex(const SimJson& value, const std::string& pointer, std::string* bytes,
             std::string* error);
bool Fail(const std::string& pointer, const std::string& what, std::string* error);

std::string ToHex(const std::string& bytes);
// True when the bytes are valid UTF-8 (JSON strings must be).
bool IsUtf8(const std::string& bytes);

// Parses JSON text; on a syntax error sets *error to "line L, column C: what".
bool ParseJsonText(const std::string& text, SimJson* out, std::string* error);
