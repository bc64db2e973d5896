// The sign-in screen, shown inside the settings screen: the account's user
// name and password, signing in and out of the web service, and the
// registration mail.
//
// Each exchange with the service (sign-in, sign-out, the account's state)
// runs on the shared background thread; what follows it (views, labels,
// alerts, the preferences) is done on the main run loop, and only while the
// controller still exists.
//
// Sign-in: VXLogin's 0 is success (signed in, the name shown); a failed
// exchange (-1: no reply, another status, a reply without a number) is not
// a sign-in: signed-in stays NO and the alert says the service could not
// be reached; any other number is a refusal ("Sign in failed!",
// "Username or password was incorrect!").
//
// The screen is built in code (buildView). Tags: user name 1, password 2,
// sign in 3, register 4, back 5, sign out 6.
//
// Threads: main thread only (see above for the exchanges).
#ifndef CLASSES_LOGINVIEWCONTROLLER_H
#define CLASSES_LOGINVIEWCONTROLLER_H

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/Controls.h"
#include "vxu/ui/VXUIViewController.h"

class LoginViewController : public VXUIViewController {
 public:
  static constexpr int kUsernameTag = 1;
  static constexpr int kPasswordTag = 2;
  static constexpr int kSignInTag = 3;
  static constexpr int kRegisterTag = 4;
  static constexpr int kBackTag = 5;
  static constexpr int kSignOutTag = 6;
  static constexpr const char* kUnreachableMessage = "The service could not be reached.";

  LoginViewController();
  ~LoginViewController() override;

  void buildView();
  void viewDidLoad();

  // The text fields' editing ended: the field's text is stored at once.
  void textFieldDidEndEditing(platform::ui::TextField& field);
  void loginSignInButtonPressed();
  void loginSignOutButtonPressed();
  void loginBackButtonPressed();
  void loginStartButtonPressed();
  void checkSignedInStatus();

  // Whether a recording would be lost by leaving for the mail (the
  // application delegate answers; none: no).
  std::function<bool()> hasUnsavedRecording;

  int loginState() const { return loginState_; }
  int loginError() const { return loginError_; }
  platform::ui::TextField& usernameTextField() { return *usernameTextField_; }
  platform::ui::TextField& passwordTextField() { return *passwordTextField_; }
  platform::ui::View& loginProgress() { return *loginProgress_; }
  platform::ui::View& signedInView() { return *signedInView_; }
  platform::ui::Label& signedInName() { return *signedInName_; }

 private:
  void showProgress();
  void hideProgress();
  void showSignedIn(const std::string& name);
  // Runs work on the shared background thread, then done (with work's
  // answer) on the main loop while this controller lives.
  template <typename T>
  void exchange(std::function<T()> work, std::function<void(LoginViewController&, T)> done);

  std::shared_ptr<platform::ui::TextField> usernameTextField_;
  std::shared_ptr<platform::ui::TextField> passwordTextField_;
  std::shared_ptr<platform::ui::View> loginProgress_;
  std::shared_ptr<platform::ui::View> signedInView_;
  std::shared_ptr<platform::ui::Label> signedInName_;
  int loginState_ = 0;
  int loginError_ = 0;
  int accountError_ = 0;
  // Alive while the controller is; the exchanges hold it weakly.
  std::shared_ptr<LoginViewController*> self_;
};

#endif
