// What the desktop shell needs of the application core, behind one small
// interface: the operations on the running index (index_operations.h), the
// page address of this run, opening a URL or a file on the desktop, and the
// shutdown sequence.
//
// The shell's windows and menus talk to the rest of the system only through
// this seam, so that tests can stand in a backend that records what would
// have opened a browser or ended the program.
//
// Thread safety: called on the user-interface thread only.
#ifndef LUN_SHELL_SHELL_BACKEND_H_
#define LUN_SHELL_SHELL_BACKEND_H_

#include <string>

namespace lun {

class Application;
class IndexOperations;
class SettingsStore;

class ShellBackend {
 public:
  virtual ~ShellBackend() = default;

  // Counts, pause and speed, re-index, search, document text, settings.
  virtual IndexOperations& operations() = 0;
  // The settings: operations().settings().
  SettingsStore& settings();

  // "http://127.0.0.1:PORT/LUN/": the pages of this run.
  virtual std::string PageBaseUrl() = 0;
  // The session code every page URL carries as IDCODE.
  virtual std::string SessionCode() = 0;

  // Hands a URL, a file or a folder to the desktop's opener. Never blocks.
  virtual void Open(const std::string& target) = 0;

  // Turns the logon autostart entry on or off; false when it cannot be
  // written.
  virtual bool SetAutostart(bool on) = 0;

  // Runs the shutdown sequence (idempotent).
  virtual void Shutdown() = 0;
};

// The backend of a real run: the application's parts, xdg-open for opening,
// the XDG autostart entry.
class ApplicationBackend : public ShellBackend {
 public:
  // `app` must outlive the backend. Without `manage_autostart` (tests)
  // SetAutostart leaves the user's entry alone and reports success.
  ApplicationBackend(Application& app, bool manage_autostart);

  IndexOperations& operations() override;
  std::string PageBaseUrl() override;
  std::string SessionCode() override;
  void Open(const std::string& target) override;
  bool SetAutostart(bool on) override;
  void Shutdown() override;

 private:
  Application& app_;
  bool manage_autostart_;
};

// Starts `xdg-open target` without a shell and reaps it in the background.
// False when xdg-open is not installed or cannot be started.
bool OpenWithDesktop(const std::string& target);

}  // namespace lun

#endif  // LUN_SHELL_SHELL_BACKEND_H_
