#include "crawler/mail_sources.h"

#include "crawler/scan_scope.h"

namespace lun {

MailSources::MailSources(MailSourcesEnvironment env)
    : env_(std::move(env)),
      foxmail_(env_.foxmail_directory, *env_.writer, *env_.scope,
               FoxmailOptions{env_.countdown, env_.fail_watch_for_testing}),
      local_(env_.home, env_.maildirs, *env_.writer, *env_.search),
      outlook_([this] { OutlookPass(Held()); }, env_.poll_interval),
      outlook_express_([this] { OutlookExpressPass(Held()); }, env_.poll_interval) {}

MailSources::~MailSources() { Stop(); }

std::string MailSources::Apply(const std::string& document_types) {
  std::lock_guard lock(mutex_);
  const std::string list = NormalizeTypeList(document_types);
  const bool foxmail = ListContainsToken(list, "|FOXMAIL|");
  const bool outlook = ListContainsToken(list, "|OUTLOOK|");
  const bool outlook_express = ListContainsToken(list, "|OUTLOOKEXPRESS|");
  const bool local = ListContainsToken(list, "|THUNDERBIRD|");

  // What goes off goes in the shutdown order.
  if (!outlook_express) outlook_express_.Stop();
  if (!outlook) outlook_.Stop();
  if (!foxmail) StopFoxmail();
  if (!local) StopLocalMail();

  std::string report;
  if (foxmail && !foxmail_on_) {
    foxmail_.stop = false;
    report += foxmail_.StartMonitor();
    foxmail_on_ = true;
  }
  if (outlook) outlook_.Start();
  if (outlook_express) outlook_express_.Start();
  if (local && !local_on_) {
    local_.stop = false;
    report += local_.StartMonitor();
    local_on_ = true;
  }
  return report;
}

void MailSources::Stop() {
  std::lock_guard lock(mutex_);
  outlook_express_.Stop();
  outlook_.Stop();
  StopFoxmail();
  StopLocalMail();
}

void MailSources::StopFoxmail() {
  // The stop flag ends a mailbox pass under way (the monitor's or the
  // scan's) before the monitor waits for its worker.
  foxmail_.stop = true;
  foxmail_.StopMonitor();
  foxmail_on_ = false;
}

void MailSources::StopLocalMail() {
  local_.stop = true;
  local_.StopMonitor();
  local_on_ = false;
}

void MailSources::IndexAll() {
  // The polled stores are read by their own threads.
  if (foxmail_on_) foxmail_.IndexAll();
  if (local_on_) local_.IndexAll();
}

}  // namespace lun
