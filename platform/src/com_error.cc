#include "platform/com_error.h"

#include <new>
#include <utility>

namespace heliq {

std::string DefaultErrorDescription(int32_t number) {
  switch (number) {
    case err::kInvalidProcedureCall:
      return "Invalid procedure call or argument";
    case err::kOverflow:
      return "Overflow";
    case err::kSubscriptOutOfRange:
      return "Subscript out of range";
    case err::kTypeMismatch:
      return "Type mismatch";
    case err::kFileNotFound:
      return "File not found";
    case err::kPathFileAccess:
      return "Path/File access error";
    case err::kPathNotFound:
      return "Path not found";
    case err::kInvalidUseOfNull:
      return "Invalid use of Null";
    case err::kCannotCreateComponent:
      return "ActiveX component can't create object";
    case err::kMethodNotSupported:
      return "Object doesn't support this property or method";
    case err::kArgumentNotOptional:
      return "Argument not optional";
    case err::kBackOfficeRefused:
      return "Application-defined or object-defined error";
    case err::kDbRowChanged:
      return "Row cannot be located for updating. Some values may have been changed since it was "
             "last read.";
    case err::kDbNoCurrentRow:
      return "Either BOF or EOF is True, or the current record has been deleted.";
    case err::kItemNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or "
             "ordinal.";
    default:
      return "";
  }
}

ComError::ComError(int32_t number, std::string source, std::string description,
                   std::string help_file, int32_t help_context)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      help_file_(std::move(help_file)),
      help_context_(help_context) {}

ComError ComError::Of(int32_t number, std::string source) {
  return ComError(number, std::move(source), DefaultErrorDescription(number));
}

ComError CurrentError() {
  try {
    throw;
  } catch (const ComError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return ComError(7, "", "Out of memory");
  } catch (const std::exception& e) {
    return ComError(err::kDbError, "", e.what());
  } catch (...) {
    return ComError(err::kDbError, "", "Unknown failure");
  }
}

}  // namespace heliq
