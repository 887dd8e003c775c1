#include "database/FileHeader.h"

#include <algorithm>

#include "database/LittleEndian.h"

namespace quarry {

std::array<unsigned char, FileHeader::kSize> FileHeader::Encode() const {
  std::array<unsigned char, kSize> bytes{};
  std::copy(magic.begin(), magic.end(), bytes.begin());
  EncodeInt32(bytes.data() + 4, recordCount);
  EncodeInt32(bytes.data() + 8, totalSize);
  std::copy(reserved.begin(), reserved.end(), bytes.begin() + 12);
  return bytes;
}

FileHeader FileHeader::Decode(const unsigned char* bytes) {
  FileHeader header;
  std::copy(bytes, bytes + 4, header.magic.begin());
  header.recordCount = DecodeInt32(bytes + 4);
  header.totalSize = DecodeInt32(bytes + 8);
  std::copy(bytes + 12, bytes + kSize, header.reserved.begin());
  return header;
}

}  // namespace quarry
