#include "platform/operation_table.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "platform/com_error.h"
#include "platform/database.h"
#include "platform/object_context.h"

namespace heliq {
namespace {

struct Table {
  std::mutex mutex;
  std::map<std::string, std::unique_ptr<OperationSpec>> rows;
};

Table& GlobalTable() {
  static Table* table = new Table();
  return *table;
}

std::string Key(std::string_view class_id, std::string_view name) {
  std::string key = std::string(class_id) + "/" + std::string(name);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

ComError BadArgument(const ParamSpec& param, const std::string& why) {
  return ComError(err::kBadRequest, "Arguments", "argument " + param.name + ": " + why);
}

Variant Convert(const ParamSpec& param, const Variant& value) {
  const std::string expected = "expected " + std::string(ParamKindName(param.kind)) + ", got " +
                               std::string(TypeName(value.type()));
  try {
    switch (param.kind) {
      case ParamKind::kText:
        if (value.type() == Variant::Type::kDictionary || value.type() == Variant::Type::kArray) {
          throw BadArgument(param, expected);
        }
        return value.IsNull() ? value : Variant(value.ToText());
      case ParamKind::kLong:
        return value.IsNull() ? value : Variant(value.ToLong());
      case ParamKind::kBool:
        return value.IsNull() ? value : Variant(value.ToBool());
      case ParamKind::kDate:
        return value.IsBlank() ? value : Variant(value.ToDate());
      case ParamKind::kDictionary:
        if (value.IsNull() || value.IsEmpty()) return Variant(Dictionary::Create());
        if (value.type() != Variant::Type::kDictionary) throw BadArgument(param, expected);
        return value;
      case ParamKind::kArray:
        if (value.type() != Variant::Type::kArray) throw BadArgument(param, expected);
        return value;
      case ParamKind::kVariant:
        return value;
    }
  } catch (const ComError& e) {
    if (e.number() == err::kBadRequest) throw;
    throw BadArgument(param, expected + " (" + e.description() + ")");
  }
  return value;
}

// Checks the declared keys the caller set; the values stay as given, for the operation converts
// them itself (as its own rules say, e.g. an unset key reads as 0 or "").
void CheckDetailKeys(const ParamSpec& param, const Dictionary& details) {
  for (const DetailKey& key : param.keys) {
    if (!key.read || key.kind == ParamKind::kVariant || !details.Exists(key.name)) continue;
    const Variant value = details.Get(key.name);
    if (value.IsBlank()) continue;
    Convert(ParamSpec{param.name + "." + key.name, key.kind, false, false, Variant(), {}}, value);
  }
}

}  // namespace

std::string_view ParamKindName(ParamKind kind) {
  switch (kind) {
    case ParamKind::kText:
      return "text";
    case ParamKind::kLong:
      return "32-bit integer";
    case ParamKind::kBool:
      return "Boolean";
    case ParamKind::kDate:
      return "date-time";
    case ParamKind::kDictionary:
      return "dictionary";
    case ParamKind::kArray:
      return "array";
    case ParamKind::kVariant:
      return "any value";
  }
  return "value";
}

void AddOperation(OperationSpec spec) {
  auto& table = GlobalTable();
  std::lock_guard lock(table.mutex);
  const std::string key = Key(spec.class_id, spec.name);
  table.rows[key] = std::make_unique<OperationSpec>(std::move(spec));
}

const OperationSpec* FindOperation(std::string_view class_id, std::string_view name) {
  auto& table = GlobalTable();
  std::lock_guard lock(table.mutex);
  auto it = table.rows.find(Key(class_id, name));
  return it == table.rows.end() ? nullptr : it->second.get();
}

std::vector<const OperationSpec*> ListOperations() {
  auto& table = GlobalTable();
  std::lock_guard lock(table.mutex);
  std::vector<const OperationSpec*> rows;
  for (const auto& [key, spec] : table.rows) rows.push_back(spec.get());
  return rows;
}

DictionaryPtr PrepareArguments(const OperationSpec& spec, const Dictionary& args) {
  for (const auto& [name, value] : args.entries()) {
    const bool known = std::any_of(spec.params.begin(), spec.params.end(),
                                   [&](const ParamSpec& p) { return p.name == name; });
    if (!known) {
      throw ComError(err::kBadRequest, "Arguments",
                     "unknown argument " + name + " for " + spec.class_id + "." + spec.name);
    }
  }
  auto prepared = Dictionary::Create();
  for (const auto& param : spec.params) {
    if (!args.Exists(param.name)) {
      if (!param.optional && !param.by_ref) throw BadArgument(param, "missing");
      prepared->Set(param.name, param.optional ? param.default_value : Variant());
      continue;
    }
    prepared->Set(param.name, Convert(param, args.Get(param.name)));
    if (!param.keys.empty()) CheckDetailKeys(param, *prepared->Get(param.name).ToDictionary());
  }
  return prepared;
}

CallResult CallOperation(const OperationSpec& spec, const Dictionary& args,
                         const Deadline& deadline) {
  DictionaryPtr prepared = PrepareArguments(spec, args);
  CallResult call;
  call.result = RunUnitOfWork([&] { return spec.invoke(*prepared); }, spec.read_only, deadline);
  call.by_ref = Dictionary::Create();
  for (const auto& param : spec.params) {
    if (param.by_ref || param.kind == ParamKind::kDictionary) {
      call.by_ref->Set(param.name, prepared->Get(param.name));
    }
  }
  return call;
}

}  // namespace heliq
