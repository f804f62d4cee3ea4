#include "platform/uuid.h"

#include <uuid/uuid.h>

namespace lun {

std::string NewUuidText() {
  uuid_t id;
  // Random (version 4) ids: session codes must not be guessable.
  uuid_generate_random(id);
  char text[37];
  uuid_unparse_upper(id, text);
  return text;
}

}  // namespace lun
