#include "Classes/LoginViewController.h"

#include <optional>
#include <vector>

#include "Classes/FluvanePreferences.h"
#include "Classes/FluvaneScreenStyle.h"
#include "platform/RunLoop.h"
#include "platform/ui/AlertView.h"
#include "vxu/VXBackgroundThread.h"
#include "vxu/VXUserFeedback.h"
#include "vxu/VXWebCalls.h"

namespace ui = platform::ui;

namespace {

using FluvaneScreenStyle::kScreenColor;
using FluvaneScreenStyle::makeButton;
using FluvaneScreenStyle::makeLabel;

std::shared_ptr<ui::TextField> makeField(const ui::Rect& frame, int tag,
                                         const std::string& placeholder) {
  auto field = std::make_shared<ui::TextField>(frame);
  field->setTag(tag);
  field->setPlaceholder(placeholder);
  field->setBackgroundColor(ui::Color::white());
  return field;
}

void showAlert(const std::string& title, const std::string& message,
               std::optional<std::string> cancel, std::vector<std::string> others,
               ui::AlertView::Callback callback) {
  auto alert = std::make_shared<ui::AlertView>(ui::AlertStyle::Alert, title, message,
                                               std::move(cancel), std::move(others),
                                               std::move(callback));
  alert->show();
}

}  // namespace

LoginViewController::LoginViewController()
    : self_(std::make_shared<LoginViewController*>(this)) {
  buildView();
  viewDidLoad();
}

LoginViewController::~LoginViewController() { *self_ = nullptr; }

void LoginViewController::buildView() {
  auto view = std::make_shared<ui::View>(ui::Rect(0, 0, 320, 436));
  view->setBackgroundColor(kScreenColor);
  view->addSubview(makeLabel(ui::Rect(12, 8, 296, 30), "Sign in", ui::Font::boldSystemFont(20)));
  usernameTextField_ = makeField(ui::Rect(12, 50, 296, 32), kUsernameTag, "User name");
  passwordTextField_ = makeField(ui::Rect(12, 92, 296, 32), kPasswordTag, "Password");
  passwordTextField_->setSecureTextEntry(true);
  for (const auto& field : {usernameTextField_, passwordTextField_}) {
    field->onReturn = [this](ui::TextField& f) {
      textFieldDidEndEditing(f);
      f.resignFirstResponder();
    };
    view->addSubview(field);
  }
  auto signIn = makeButton(ui::Rect(12, 140, 140, 36), "Sign in", kSignInTag);
  signIn->addTarget([this](ui::Control&) { loginSignInButtonPressed(); }, ui::kTouchUpInside);
  auto reg = makeButton(ui::Rect(168, 140, 140, 36), "Register", kRegisterTag);
  reg->addTarget([this](ui::Control&) { loginStartButtonPressed(); }, ui::kTouchUpInside);
  auto back = makeButton(ui::Rect(168, 388, 140, 36), "Back", kBackTag);
  back->addTarget([this](ui::Control&) { loginBackButtonPressed(); }, ui::kTouchUpInside);
  for (const auto& b : {signIn, reg, back}) view->addSubview(b);

  signedInView_ = std::make_shared<ui::View>(ui::Rect(0, 40, 320, 300));
  signedInView_->setBackgroundColor(kScreenColor);
  signedInView_->addSubview(
      makeLabel(ui::Rect(12, 10, 296, 24), "Signed in as", ui::Font::systemFont(15)));
  signedInName_ = makeLabel(ui::Rect(12, 40, 296, 30), "", ui::Font::boldSystemFont(18));
  signedInView_->addSubview(signedInName_);
  auto signOut = makeButton(ui::Rect(12, 90, 140, 36), "Sign out", kSignOutTag);
  signOut->addTarget([this](ui::Control&) { loginSignOutButtonPressed(); }, ui::kTouchUpInside);
  signedInView_->addSubview(signOut);

  loginProgress_ = std::make_shared<ui::View>(ui::Rect(60, 180, 200, 60));
  loginProgress_->setBackgroundColor(ui::Color::black(0.7));
  loginProgress_->addSubview(
      makeLabel(ui::Rect(10, 15, 180, 30), "Please wait...", ui::Font::systemFont(15)));
  setView(view);
}

void LoginViewController::viewDidLoad() {
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  usernameTextField_->setText(prefs.getUsername());
  passwordTextField_->setText(prefs.getPassword());
}

void LoginViewController::textFieldDidEndEditing(ui::TextField& field) {
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  if (&field == usernameTextField_.get()) prefs.setUsername(field.text());
  if (&field == passwordTextField_.get()) prefs.setPassword(field.text());
}

template <typename T>
void LoginViewController::exchange(std::function<T()> work,
                                   std::function<void(LoginViewController&, T)> done) {
  std::weak_ptr<LoginViewController*> weak = self_;
  VXBackgroundThread::sharedBackgroundThread().performSelectorInBackground([work, done, weak] {
    T answer = work();
    platform::RunLoop::main().post([done, weak, answer] {
      const auto self = weak.lock();
      if (self && *self) done(**self, answer);
    });
  });
}

void LoginViewController::showProgress() {
  if (view()) view()->addSubview(loginProgress_);
}

void LoginViewController::hideProgress() { loginProgress_->removeFromSuperview(); }

void LoginViewController::showSignedIn(const std::string& name) {
  signedInName_->setText(name);
  if (view()) view()->addSubview(signedInView_);
}

void LoginViewController::loginSignInButtonPressed() {
  showProgress();
  const std::string user = usernameTextField_->text();
  const std::string password = passwordTextField_->text();
  exchange<int>([user, password] { return VXLogin(user, password); },
                [user](LoginViewController& self, int result) {
                  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
                  if (result == 0) {
                    self.loginState_ = 2;
                    self.loginError_ = 0;
                    prefs.setSignedIn(true);
                    self.showSignedIn(user);
                  } else if (result < 0) {
                    // No answer from the service is no sign-in, and not a
                    // refusal of the name and password either.
                    self.accountError_ = 1;
                    prefs.setSignedIn(false);
                    showAlert("Sign in failed!", kUnreachableMessage, std::nullopt, {"ok"},
                              [](int) {});
                  } else {
                    self.loginState_ = 1;
                    self.loginError_ = 1;
                    prefs.setSignedIn(false);
                    showAlert("Sign in failed!", "Username or password was incorrect!",
                              std::nullopt, {"ok"}, [](int) {});
                  }
                  self.hideProgress();
                });
}

void LoginViewController::loginSignOutButtonPressed() {
  showProgress();
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  const std::string user = prefs.getUsername(), password = prefs.getPassword();
  exchange<int>([user, password] { return VXLogout(user, password); },
                [](LoginViewController& self, int) {
                  // The service's answer does not matter: the player is out.
                  FluvanePreferences& p = FluvanePreferences::standardFluvanePreferences();
                  p.setSignedIn(false);
                  self.signedInView_->removeFromSuperview();
                  p.setUsername("");
                  p.setPassword("");
                  self.usernameTextField_->setText("");
                  self.passwordTextField_->setText("");
                  self.hideProgress();
                });
}

void LoginViewController::checkSignedInStatus() {
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  if (prefs.isSignedIn()) {
    showSignedIn(prefs.getUsername());
    return;
  }
  showProgress();
  exchange<std::optional<std::string>>(
      [] { return VXCurrentAuthState(); },
      [](LoginViewController& self, std::optional<std::string> name) {
        if (name && !name->empty()) {
          FluvanePreferences& p = FluvanePreferences::standardFluvanePreferences();
          p.setSignedIn(true);
          p.setUsername(*name);
          self.usernameTextField_->setText(*name);
          self.showSignedIn(*name);
        } else {
          self.signedInView_->removeFromSuperview();
        }
        self.hideProgress();
      });
}

void LoginViewController::loginBackButtonPressed() {
  if (view()) view()->removeFromSuperview();
  signedInView_->removeFromSuperview();
}

void LoginViewController::loginStartButtonPressed() {
  std::string message = "Launch Mail to email Vexel and register?";
  if (hasUnsavedRecording && hasUnsavedRecording()) {
    message += " Your current recording will be lost.";
  }
  showAlert("Register", message, std::string("Cancel"), {"Yes"}, [](int index) {
    if (index != 0) VXUserFeedback::generateRegisterEmail();
  });
}
