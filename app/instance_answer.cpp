#include "app/instance_answer.h"

#include "app/application.h"
#include "app/explain_command.h"
#include "app/open_command.h"
#include "app/search_command.h"
#include "platform/desktop/desktop_apps.h"

namespace lun {

std::string AnswerInstanceRequest(Application& app, std::string_view request) {
  std::string argument;
  if (ParseOpenRequest(request, &argument)) {
    return AnswerOpenRequest(app.SearchUrl(argument), LaunchDetached);
  }
  if (ParseExplainRequest(request, &argument)) return app.Diagnose(argument);
  return AnswerSearchRequest(*app.operations().search(), request);
}

}  // namespace lun
