// What a running lun answers other starts of lun through lun.socket
// (instance_socket.h): `lun search` (search_command.h), `lun --open`
// (open_command.h) and `lun --explain` (explain_command.h). The one handler
// of the headless and the desktop instance.
#ifndef LUN_APP_INSTANCE_ANSWER_H_
#define LUN_APP_INSTANCE_ANSWER_H_

#include <string>
#include <string_view>

namespace lun {

class Application;

// The answer to one request line; an empty text for a request it does not
// know.
std::string AnswerInstanceRequest(Application& app, std::string_view request);

}  // namespace lun

#endif  // LUN_APP_INSTANCE_ANSWER_H_
