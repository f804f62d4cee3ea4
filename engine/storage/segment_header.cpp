#include "engine/storage/segment_header.h"

#include <cstring>

#include "engine/storage/engine_error.h"
#include "engine/storage/segment_format.h"

namespace lun {

namespace sf = segment_format;

std::string BuildSegmentHeader(std::string_view time_stamp) {
  std::string header(sf::kHeaderSize, '\0');
  for (size_t i = 0; i < sf::kCheckBytesSize; ++i) {
    header[sf::kCheckBytesOffset + i] =
        static_cast<char>(static_cast<uint8_t>(header[sf::kCheckSources[i]]) ^ sf::kCheckMask);
  }
  header.replace(sf::kTimeOffset, std::min(time_stamp.size(), sf::kTimeSize - 1),
                 time_stamp.substr(0, sf::kTimeSize - 1));
  std::memcpy(header.data() + sf::kCopyrightOffset, sf::kCopyright, sizeof(sf::kCopyright));
  std::memcpy(header.data() + sf::kVersionOffset, sf::kVersion, sizeof(sf::kVersion));
  return header;
}

const char* SegmentHeaderProblem(const unsigned char* header, size_t size) {
  if (size < sf::kHeaderReadSize) return msg::kCheckBytesBad;
  for (size_t i = 0; i < sf::kCheckBytesSize; ++i) {
    if ((header[sf::kCheckSources[i]] ^ sf::kCheckMask) != header[sf::kCheckBytesOffset + i]) {
      return msg::kCheckBytesBad;
    }
  }
  const char* text = reinterpret_cast<const char*>(header);
  if (std::string_view(text + sf::kCopyrightOffset, strnlen(text + sf::kCopyrightOffset, sf::kCopyrightSize)) !=
      sf::kCopyright) {
    return msg::kCopyrightBad;
  }
  const size_t version_room = sf::kHeaderReadSize - sf::kVersionOffset;
  if (std::string_view(text + sf::kVersionOffset, strnlen(text + sf::kVersionOffset, version_room)) !=
      sf::kVersion) {
    return msg::kVersionBad;
  }
  return nullptr;
}

}  // namespace lun
