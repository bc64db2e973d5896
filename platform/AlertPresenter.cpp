#include "platform/AlertPresenter.h"

namespace platform {

namespace {

std::mutex g_mutex;
std::shared_ptr<AlertPresenter> g_presenter;

}  // namespace

std::vector<std::string> Alert::buttonTitles() const {
  std::vector<std::string> titles;
  if (cancelButton) titles.push_back(*cancelButton);
  titles.insert(titles.end(), otherButtons.begin(), otherButtons.end());
  return titles;
}

std::shared_ptr<AlertPresenter> AlertPresenter::installed() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_presenter;
}

std::shared_ptr<AlertPresenter> AlertPresenter::install(std::shared_ptr<AlertPresenter> presenter) {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::shared_ptr<AlertPresenter> previous = std::move(g_presenter);
  g_presenter = std::move(presenter);
  return previous;
}

void TestAlertPresenter::present(const Alert& alert, Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  alerts_.push_back(alert);
  waiting_.push_back(std::move(answer));
}

std::vector<Alert> TestAlertPresenter::alerts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return alerts_;
}

std::size_t TestAlertPresenter::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_.size();
}

bool TestAlertPresenter::answer(int buttonIndex) {
  Answer answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_.empty()) return false;
    answer = std::move(waiting_.front());
    waiting_.erase(waiting_.begin());
  }
  if (answer) answer(buttonIndex);
  return true;
}

}  // namespace platform
