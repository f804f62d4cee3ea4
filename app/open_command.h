// `lun --open [QUERY]`: asks the running lun of a home, through lun.socket,
// to open the browser on the home page, or on the results for QUERY. The
// running instance knows this start's session code and port; the asking
// start knows neither.
//
// Request line: "OPEN" or "OPEN <query>" (the query on one line: line ends
// in it become blanks). Answer: "OK <url>" when the browser was started,
// "ERROR <message>" otherwise.
//
// The browser is started through the desktop's opener (xdg-open). The
// environment variable LUN_BROWSER, when set and not empty, names another
// program to start with the URL as its one argument (tests capture the URL
// with it; a user may name a browser).
#ifndef LUN_APP_OPEN_COMMAND_H_
#define LUN_APP_OPEN_COMMAND_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

// The request line that asks for `query` ("" for the home page).
std::string OpenRequestLine(std::string_view query);

// Whether `line` is an open request; its query goes to `*query`.
bool ParseOpenRequest(std::string_view line, std::string* query);

// The command that opens `url` in the browser (see the top of this file).
std::vector<std::string> BrowserCommand(const std::string& url);

// The running instance's answer: `url` is the page to open ("" when the web
// pages are not served); `launch` starts a command without waiting for it.
std::string AnswerOpenRequest(const std::string& url,
                              const std::function<bool(const std::vector<std::string>&)>& launch);

// Runs `lun --open` for `home`: 0 when the browser was opened, 1 when no
// lun runs with that home or it could not open it (a message on stderr).
int RunOpenCommand(const std::string& home, std::string_view query);

}  // namespace lun

#endif  // LUN_APP_OPEN_COMMAND_H_
