#include "model/TextList.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace quarry {

int TextList::Add(std::string_view text) {
  if (text.size() >= std::numeric_limits<std::uint32_t>::max() - bytes_.size()) {
    throw std::length_error("a text list of more than 4 GiB");
  }
  bytes_.append(text);
  ends_.push_back(static_cast<std::uint32_t>(bytes_.size()));
  bytes_.push_back('\0');
  return static_cast<int>(ends_.size() - 1);
}

std::size_t TextList::AssignNulEnded(std::string bytes) {
  if (bytes.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("a text list of more than 4 GiB");
  }
  if (!bytes.empty() && bytes.back() != '\0') bytes.push_back('\0');
  std::vector<std::uint32_t> ends;
  ends.reserve(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\0')));
  const char* const data = bytes.data();
  const char* const end = data + bytes.size();
  for (const char* p = data; p < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, '\0', static_cast<std::size_t>(end - p)));
    ends.push_back(static_cast<std::uint32_t>(p - data));
  }
  bytes_ = std::move(bytes);
  ends_ = std::move(ends);
  return ends_.size();
}

std::optional<std::string_view> TextList::GetFirst() {
  if (ends_.empty()) return std::nullopt;
  walk_ = 0;
  return At(0);
}

std::optional<std::string_view> TextList::GetNext() {
  if (walk_ < 0 || ends_.empty()) return std::nullopt;
  const auto next = static_cast<std::size_t>(walk_) + 1;
  if (next >= ends_.size()) return std::nullopt;
  walk_ = static_cast<long>(next);
  return At(next);
}

void TextList::Clear() {
  std::string().swap(bytes_);
  std::vector<std::uint32_t>().swap(ends_);
}

}  // namespace quarry
