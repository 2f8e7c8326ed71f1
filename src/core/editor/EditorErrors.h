#pragma once
// Failures raised by the editor control. ECodeMemo is the component's base; stream failures
// share EStreamError with the binary stream readers.

#include "core/editor/BinaryStream.h"
#include "core/editor/CodeMemoError.h"

#include <string>

namespace morvane::editor {

class EFileSaveError : public ECodeMemo {
public:
    using ECodeMemo::ECodeMemo;
};

class EStringListError : public ECodeMemo {
public:
    using ECodeMemo::ECodeMemo;
};

class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

inline constexpr const char* kReadOnlyStream = "Cannot write to a read-only stream";
inline constexpr const char* kNoMemory = "Not enough memory for operation";
inline constexpr const char* kBadStream = "Bad TStream instance";
inline constexpr const char* kCouldNotSave = "Could not save text to stream";

} // namespace morvane::editor
