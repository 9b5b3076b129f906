#include "engine/errors.h"

namespace tessarine {

TessarineError CannotOpenFile(const std::string& path) {
    return TessarineError(MakeMessage(MessageId::kCannotOpenFile, {path}));
}

TessarineError CannotCreateFile(const std::string& path) {
    return TessarineError(MakeMessage(MessageId::kCannotCreateFile, {path}));
}

}  // namespace tessarine
