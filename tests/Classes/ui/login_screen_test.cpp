// The sign-in screen against the loopback service: success, refusal, no
// service to reach, signing out, and the stored state that asks nothing.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Classes/FluvanePreferences.h"
#include "Classes/LoginViewController.h"
#include "vxu/ui/vxu_ui_test_support.h"
#include "vxu/vx_service_support.h"

namespace {

class LoginScreen : public FrameworkUiTest {
 protected:
  void SetUp() override {
    FrameworkUiTest::SetUp();
    FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
    prefs.setSignedIn(false);
    prefs.setUsername("ann");
    prefs.setPassword("secret");
    login = std::make_unique<LoginViewController>();
    window().addSubview(login->view());
  }
  void TearDown() override {
    settle();
    login.reset();
    FrameworkUiTest::TearDown();
  }
  void tapTag(int tag) {
    platform::ui::View* v = ui().findByTag(tag);
    ASSERT_NE(v, nullptr) << tag;
    const platform::ui::Rect b = v->bounds();
    const platform::ui::Point centre =
        v->convertTo(platform::ui::Point{b.x() + b.width() / 2, b.y() + b.height() / 2}, nullptr);
    ui().tap(centre.x, centre.y);
  }
  bool signedInShown() const { return login->signedInView().superview() != nullptr; }

  ConfiguredService service;
  std::unique_ptr<LoginViewController> login;
};

}  // namespace

TEST_F(LoginScreen, FieldsStartFromThePreferences) {
  EXPECT_EQ(login->usernameTextField().text(), "ann");
  EXPECT_EQ(login->passwordTextField().text(), "secret");
  EXPECT_TRUE(login->passwordTextField().secureTextEntry());
}

TEST_F(LoginScreen, ASuccessfulSignInShowsTheName) {
  service.stub.on("/vexel/login/", stub::Reply::text("0"));
  tapTag(LoginViewController::kSignInTag);
  EXPECT_NE(login->loginProgress().superview(), nullptr);
  settle();
  EXPECT_EQ(login->loginProgress().superview(), nullptr);
  EXPECT_EQ(login->loginState(), 2);
  EXPECT_EQ(login->loginError(), 0);
  EXPECT_TRUE(FluvanePreferences::standardFluvanePreferences().isSignedIn());
  EXPECT_TRUE(signedInShown());
  EXPECT_EQ(login->signedInName().text(), "ann");
  EXPECT_TRUE(ui().alerts().empty());
  ASSERT_EQ(service.stub.requests().size(), 1u);
  EXPECT_EQ(service.stub.requests()[0].path, "/vexel/login/");
}

TEST_F(LoginScreen, ARefusalSaysSo) {
  service.stub.on("/vexel/login/", stub::Reply::text("3"));
  tapTag(LoginViewController::kSignInTag);
  settle();
  EXPECT_EQ(login->loginState(), 1);
  EXPECT_EQ(login->loginError(), 1);
  EXPECT_FALSE(FluvanePreferences::standardFluvanePreferences().isSignedIn());
  EXPECT_FALSE(signedInShown());
  const auto alerts = ui().alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Sign in failed!");
  EXPECT_EQ(alerts[0].message, "Username or password was incorrect!");
  EXPECT_EQ(alerts[0].buttons, std::vector<std::string>{"ok"});
  EXPECT_TRUE(ui().answer(0));
}

TEST_F(LoginScreen, AServiceThatCannotBeReachedSignsNobodyIn) {
  // A loopback port with nothing listening: the exchange fails.
  ScopedEnv url("FLUVANE_SERVICE_URL", "http://127.0.0.1:1");
  tapTag(LoginViewController::kSignInTag);
  settle();
  EXPECT_FALSE(FluvanePreferences::standardFluvanePreferences().isSignedIn());
  EXPECT_FALSE(signedInShown());
  EXPECT_NE(login->loginState(), 2);
  const auto alerts = ui().alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].message, LoginViewController::kUnreachableMessage);
  EXPECT_TRUE(ui().answer(0));
}

TEST_F(LoginScreen, SigningOutEmptiesBothFieldsAndTheStoredPassword) {
  service.stub.on("/vexel/login/", stub::Reply::text("0"));
  service.stub.on("/vexel/logout/", stub::Reply::text("500", 500));  // not examined
  tapTag(LoginViewController::kSignInTag);
  settle();
  ASSERT_TRUE(signedInShown());
  tapTag(LoginViewController::kSignOutTag);
  settle();
  FluvanePreferences& prefs = FluvanePreferences::standardFluvanePreferences();
  EXPECT_FALSE(prefs.isSignedIn());
  EXPECT_EQ(prefs.getUsername(), "");
  EXPECT_EQ(prefs.getPassword(), "");
  EXPECT_EQ(login->usernameTextField().text(), "");
  EXPECT_EQ(login->passwordTextField().text(), "");
  EXPECT_FALSE(signedInShown());
  ASSERT_EQ(service.stub.requests().size(), 2u);
  EXPECT_EQ(service.stub.requests()[1].path, "/vexel/logout/");
}

TEST_F(LoginScreen, TheStoredSignedInStateAsksNothing) {
  FluvanePreferences::standardFluvanePreferences().setSignedIn(true);
  login->checkSignedInStatus();
  settle();
  EXPECT_TRUE(signedInShown());
  EXPECT_EQ(login->signedInName().text(), "ann");
  EXPECT_TRUE(service.stub.requests().empty());
}

TEST_F(LoginScreen, TheAccountStateNamesTheSignedInUser) {
  service.stub.on("/vexel/authstate/", stub::Reply::text("bob"));
  login->checkSignedInStatus();
  settle();
  EXPECT_TRUE(signedInShown());
  EXPECT_EQ(login->signedInName().text(), "bob");
  EXPECT_EQ(login->usernameTextField().text(), "bob");
  EXPECT_TRUE(FluvanePreferences::standardFluvanePreferences().isSignedIn());
  // An empty answer: not signed in.
  FluvanePreferences::standardFluvanePreferences().setSignedIn(false);
  service.stub.on("/vexel/authstate/", stub::Reply::text(""));
  login->checkSignedInStatus();
  settle();
  EXPECT_FALSE(signedInShown());
}

TEST_F(LoginScreen, RegisteringAsksFirst) {
  login->hasUnsavedRecording = [] { return true; };
  tapTag(LoginViewController::kRegisterTag);
  const auto alerts = ui().alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Register");
  EXPECT_EQ(alerts[0].message,
            "Launch Mail to email Vexel and register? Your current recording will be lost.");
  EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"Cancel", "Yes"}));
  EXPECT_TRUE(ui().answer(0));  // cancel: no mail
}
