#include "model/CaseFold.h"

#include <utf8proc.h>

#include "model/TextOrder.h"

namespace quarry {

std::string FoldCase(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      out += ToLowerAscii(text[i++]);
      continue;
    }
    utf8proc_int32_t cp = 0;
    const std::size_t rest = text.size() - i;
    const utf8proc_ssize_t n =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i),
                         static_cast<utf8proc_ssize_t>(rest < 4 ? rest : 4), &cp);
    if (n <= 0) {
      out += text[i++];
      continue;
    }
    utf8proc_uint8_t encoded[4];
    const utf8proc_ssize_t length = utf8proc_encode_char(utf8proc_tolower(cp), encoded);
    out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(length));
    i += static_cast<std::size_t>(n);
  }
  return out;
}

}  // namespace quarry
