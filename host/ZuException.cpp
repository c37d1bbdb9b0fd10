#include "ZuException.h"

#include <utility>

ZuException::ZuException(std::string text) : text_(std::move(text)) {}

ZuException::~ZuException() = default;

std::string ZuException::formatError() const { return text_; }
