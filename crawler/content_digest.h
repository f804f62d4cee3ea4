// The MD5 of a document's content, the "MD5" field of its record: pages
// find documents with the same content by it ("相同文件").
//
// Files are digested over their bytes, mail over the UTF-16LE bytes of the
// message text (foxmail.h Md5OfText); both are 32 lower-case hex digits.
#ifndef LUN_CRAWLER_CONTENT_DIGEST_H_
#define LUN_CRAWLER_CONTENT_DIGEST_H_

#include <string>

namespace lun {

// The digest bytes as lower-case hex digits.
std::string DigestHex(const unsigned char* digest, unsigned int length);

// The MD5 of the bytes of the file at `path`, read once from start to end;
// "" when it cannot be opened or read to its end.
std::string Md5OfFile(const std::string& path);

}  // namespace lun

#endif  // LUN_CRAWLER_CONTENT_DIGEST_H_
