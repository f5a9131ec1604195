// The operation table: class identifier + operation name -> an invoker with named arguments.
//
// Each public operation of the component libraries is one row. A row declares its parameters
// (name, kind, by reference or not, optional or not) so the host can check and convert the
// caller's arguments before the call starts, and describe the API. CallOperation runs one row as
// one unit of work and returns the result and the by-reference values.
//
// Bad input (unknown class or operation, a missing or unconvertible argument, an unknown argument
// name) raises err::kBadRequest naming the argument, before any database work.
//
// Thread safety: rows are added at start-up (AddOperation); lookups and calls may then run
// concurrently.
#ifndef HELIQ_PLATFORM_OPERATION_TABLE_H_
#define HELIQ_PLATFORM_OPERATION_TABLE_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/database.h"
#include "platform/variant.h"

namespace heliq {

enum class ParamKind { kText, kLong, kBool, kDate, kDictionary, kArray, kVariant };

// A key of a details dictionary that an operation reads or writes. A key the caller sets must
// convert to `kind` (kVariant: anything); the check runs with the arguments', before the call.
struct DetailKey {
  std::string name;
  ParamKind kind = ParamKind::kVariant;
  bool read = true;
  bool written = false;  // the caller finds it (set or changed) in the dictionary after the call
};

inline DetailKey Reads(std::string name, ParamKind kind) {
  return DetailKey{std::move(name), kind, true, false};
}
inline DetailKey Writes(std::string name, ParamKind kind) {
  return DetailKey{std::move(name), kind, false, true};
}
inline DetailKey ReadsAndWrites(std::string name, ParamKind kind) {
  return DetailKey{std::move(name), kind, true, true};
}

struct ParamSpec {
  std::string name;
  ParamKind kind = ParamKind::kVariant;
  bool by_ref = false;
  bool optional = false;
  Variant default_value;
  // For a dictionary parameter: the keys the operation reads and writes (empty: not declared).
  std::vector<DetailKey> keys;
};

// Parameter declarations for table rows.
inline ParamSpec In(std::string name, ParamKind kind) {
  return ParamSpec{std::move(name), kind, false, false, Variant()};
}
inline ParamSpec Optional(std::string name, ParamKind kind, Variant default_value) {
  return ParamSpec{std::move(name), kind, false, true, std::move(default_value)};
}
inline ParamSpec ByRef(std::string name, ParamKind kind) {
  return ParamSpec{std::move(name), kind, true, false, Variant()};
}
// A details dictionary argument with its keys.
inline ParamSpec Details(std::string name, std::vector<DetailKey> keys) {
  return ParamSpec{std::move(name), ParamKind::kDictionary, false, false, Variant(),
                   std::move(keys)};
}

// The invoker reads its (already converted) arguments from `args` and writes by-reference values
// back into it.
using Invoker = std::function<Variant(Dictionary& args)>;

struct OperationSpec {
  std::string class_id;
  std::string name;
  std::vector<ParamSpec> params;
  Invoker invoke;
  std::string summary;
  // The operation only reads: it does not queue for the embedded database's write lock.
  bool read_only = false;
  // Kind of the result, for the API description (kVariant: any or none).
  ParamKind result = ParamKind::kVariant;
};

struct CallResult {
  Variant result;
  DictionaryPtr by_ref;  // by-reference parameters and their values after the call
};

// Adds a row (replacing one with the same class and name).
void AddOperation(OperationSpec spec);
// The row, or nullptr. Class identifiers and operation names compare without regard to case.
const OperationSpec* FindOperation(std::string_view class_id, std::string_view name);
// Every row, ordered by class and name.
std::vector<const OperationSpec*> ListOperations();

// Checks and converts `args` to the row's parameter kinds (see the file comment), and checks
// that every declared key the caller set in a dictionary converts to its kind: a key that does
// not raises err::kBadRequest naming it ("argument i_dictDetails.Q_ID: ...").
DictionaryPtr PrepareArguments(const OperationSpec& spec, const Dictionary& args);
// Prepares the arguments, runs the row as one unit of work and collects the by-reference values.
// Failures of the operation reach the caller as the operation raised them (after rollback).
// `deadline` bounds the call's waits for the database (see ObjectContext).
CallResult CallOperation(const OperationSpec& spec, const Dictionary& args,
                         const Deadline& deadline = std::nullopt);

std::string_view ParamKindName(ParamKind kind);

}  // namespace heliq

#endif  // HELIQ_PLATFORM_OPERATION_TABLE_H_
