// Alerts: a question with buttons, answered by the user.
//
// The presenter is an interface: the UI kit draws alerts as views of its
// own; until one is installed there is none (installed() is null) and code
// that must ask decides what no answer means. TestAlertPresenter keeps what
// it was asked and answers when a test tells it to.
//
// Button indexes follow the mobile platform's rule: the cancel button, when
// there is one, is 0 and the other buttons follow as 1, 2, ...; without a
// cancel button the others are 0, 1, .... Alert::buttonTitles() lists the
// titles in index order.
//
// Threads: present and the answer run on the main thread.
#ifndef PLATFORM_ALERTPRESENTER_H
#define PLATFORM_ALERTPRESENTER_H

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct Alert {
  std::string title;
  std::string message;
  std::optional<std::string> cancelButton;
  std::vector<std::string> otherButtons;

  std::vector<std::string> buttonTitles() const;
};

class AlertPresenter {
 public:
  using Answer = std::function<void(int buttonIndex)>;

  virtual ~AlertPresenter() = default;
  // Shows the alert; answer runs once, with the index of the button chosen.
  virtual void present(const Alert& alert, Answer answer) = 0;

  static std::shared_ptr<AlertPresenter> installed();
  // Puts presenter in place (null: none); answers the previous one.
  static std::shared_ptr<AlertPresenter> install(std::shared_ptr<AlertPresenter> presenter);
};

class TestAlertPresenter : public AlertPresenter {
 public:
  void present(const Alert& alert, Answer answer) override;

  // Every alert presented so far, oldest first.
  std::vector<Alert> alerts() const;
  // How many wait for an answer.
  std::size_t pending() const;
  // Answers the oldest waiting alert with the button index (on the calling
  // thread); false when none waits.
  bool answer(int buttonIndex);

 private:
  mutable std::mutex mutex_;
  std::vector<Alert> alerts_;
  std::vector<Answer> waiting_;
};

}  // namespace platform

#endif
