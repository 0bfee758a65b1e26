// Arrays and objects, built in place, and the object hooks.
#include "decoder/parser.hpp"
#include "runtime/lookup.hpp"
#include "runtime/nesting_guard.hpp"

namespace mervanta {

namespace {

constexpr NestingMessages kArrayNesting{"maximum nesting depth exceeded while decoding JSON",
                                        " while decoding a JSON array"};
constexpr NestingMessages kObjectNesting{"maximum nesting depth exceeded while decoding JSON",
                                         " while decoding a JSON object"};

inline char current_byte(const ParserState& state) { return state.text[state.position]; }

// Reads the separator after an element or member: true to go on, false with
// `closed` telling whether the container ended or an error was set.
inline bool read_separator(ParserState& state, char closer, const char* message, bool& closed) {
  skip_whitespace(state);
  closed = false;
  if (state.position >= state.length) {
    parse_error(state, message);
    return false;
  }
  char byte = state.text[state.position++];
  if (byte == ',') {
    return true;
  }
  if (byte == closer) {
    closed = true;
    return false;
  }
  parse_error(state, message);
  return false;
}

// The pairs list: a new [key, value] list per entry of the finished dict.
Ref make_pairs(PyObject* dict) {
  Ref pairs = Ref::steal(PyList_New(0));
  if (!pairs) {
    return {};
  }
  Py_ssize_t cursor = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &cursor, &key, &value)) {
    Ref pair = Ref::steal(PyList_New(2));
    if (!pair) {
      return {};
    }
    Py_INCREF(key);
    PyList_SetItem(pair.get(), 0, key);
    Py_INCREF(value);
    PyList_SetItem(pair.get(), 1, value);
    if (PyList_Append(pairs.get(), pair.get()) < 0) {
      return {};
    }
  }
  return pairs;
}

Ref finish_object(Ref dict, const DecodeHooks& hooks) {
  if (hooks.object_pairs_hook != nullptr) {
    Ref pairs = make_pairs(dict.get());
    if (!pairs) {
      return {};
    }
    dict.reset();
    return call_with_one(hooks.object_pairs_hook, pairs.get());
  }
  if (hooks.object_hook != nullptr) {
    return call_with_one(hooks.object_hook, dict.get());
  }
  return dict;
}

}  // namespace

Ref parse_array(ParserState& state, const DecodeHooks& hooks) {
  NestingGuard guard(state.depth);
  if (!guard.enter(kArrayNesting)) {
    return {};
  }
  ++state.position;
  Ref list = Ref::steal(PyList_New(0));
  if (!list) {
    return {};
  }
  skip_whitespace(state);
  if (state.position < state.length && current_byte(state) == ']') {
    ++state.position;
    return list;
  }
  for (;;) {
    skip_whitespace(state);
    Ref element = parse_value(state, hooks);
    if (!element || PyList_Append(list.get(), element.get()) < 0) {
      return {};
    }
    bool closed = false;
    if (!read_separator(state, ']', "Expected ',' or ']'", closed)) {
      return closed ? std::move(list) : Ref();
    }
  }
}

Ref parse_object(ParserState& state, const DecodeHooks& hooks) {
  NestingGuard guard(state.depth);
  if (!guard.enter(kObjectNesting)) {
    return {};
  }
  ++state.position;
  skip_whitespace(state);
  if (state.position < state.length && current_byte(state) == '}') {
    ++state.position;
    Ref empty = Ref::steal(PyDict_New());
    return empty ? finish_object(std::move(empty), hooks) : Ref();
  }
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) {
    return {};
  }
  for (;;) {
    skip_whitespace(state);
    // A key must open with a quotation mark; the end of the text is left to
    // parse_string, which reports the unterminated string.
    if (state.position < state.length && current_byte(state) != '"') {
      return parse_error(state, "Invalid JSON");
    }
    Ref key = parse_string(state);
    if (!key) {
      return {};
    }
    skip_whitespace(state);
    if (state.position >= state.length) {
      return parse_error(state, "Expected ':'");
    }
    if (state.text[state.position++] != ':') {
      return parse_error(state, "Expected ':'");
    }
    skip_whitespace(state);
    Ref value = parse_value(state, hooks);
    if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) {
      return {};
    }
    bool closed = false;
    if (!read_separator(state, '}', "Expected ',' or '}'", closed)) {
      return closed ? finish_object(std::move(dict), hooks) : Ref();
    }
  }
}

}  // namespace mervanta
