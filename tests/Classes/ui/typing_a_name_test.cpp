// A player types a name into the settings of the launched instrument, key by
// key as the window system delivers them (a key press, its text, its
// release) through the host's own input: every character within the limit
// arrives, and while the field is edited no key covers a hole, blows, or
// opens the Key/Mode picker ("Ana Flautista" once came out as "AnaFlauti",
// the picker open). Keys that held something before still let go.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cctype>
#include <string>
#include <vector>

#include "Classes/FluvaneHostInput.h"
#include "Classes/FluvaneStats.h"
#include "Classes/ui/launched_instrument_support.h"

namespace {

class TypingAName : public LaunchedInstrumentTest {
 protected:
  void SetUp() override {
    LaunchedInstrumentTest::SetUp();
    app->setEventFilter([this](const void* e) { return input.handleEvent(e, *app); });
  }
  void TearDown() override {
    if (app) app->setEventFilter(nullptr);
    LaunchedInstrumentTest::TearDown();
  }

  void send(SDL_Event e) { app->handleEvent(&e); }
  void key(SDL_Keycode code, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.sym = code;
    send(e);
  }
  // One character as typed: the key goes down, its text comes, it goes up.
  void type(char c) {
    const SDL_Keycode code =
        c == ' ' ? SDLK_SPACE : static_cast<SDL_Keycode>(std::tolower(static_cast<unsigned char>(c)));
    key(code, true);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    text.text.text[0] = c;
    send(text);
    key(code, false);
  }
  void click(int x, int y) {
    for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
      SDL_Event e{};
      e.type = type;
      e.button.button = SDL_BUTTON_LEFT;
      e.button.x = x;
      e.button.y = y;
      send(e);
    }
  }

  std::vector<double> breaths;
  FluvaneHostInput input{[this](const std::vector<platform::ui::TouchInput>& touches) {
                           app->dispatchTouches(touches);
                         },
                         [this](double level) { breaths.push_back(level); }};
};

TEST_F(TypingAName, EveryCharacterReachesTheFieldAndNothingElse) {
  ASSERT_NO_FATAL_FAILURE(launchUntilReady());
  delegate->receiveMsg(4000);  // the settings
  ui->advance(1.0);
  SettingsViewController& settings = *delegate->fluvaneSettings;
  platform::ui::TextField& name = settings.nameTextField();
  name.setText("");
  // Held before the field is chosen: a finger on hole 2 and the breath.
  key(SDLK_k, true);
  key(SDLK_SPACE, true);
  ASSERT_EQ(input.fingers().size(), 1u);
  ASSERT_EQ(breaths.size(), 1u);
  const platform::ui::Rect field = name.frame();
  const platform::ui::Point middle =
      name.superview()->convertTo(platform::ui::Point{field.midX(), field.midY()}, nullptr);
  click(static_cast<int>(middle.x), static_cast<int>(middle.y));
  ASSERT_TRUE(name.isFirstResponder());
  key(SDLK_k, false);
  key(SDLK_SPACE, false);
  EXPECT_TRUE(input.fingers().empty());
  ASSERT_EQ(breaths.size(), 2u);
  EXPECT_EQ(breaths.back(), 0.0);
  breaths.clear();

  const std::string typed = "Ana Flautista";  // 13 characters: the limit
  for (char c : typed) {
    type(c);
    EXPECT_TRUE(input.fingers().empty()) << c;
    EXPECT_EQ(settings.activeInputView(), &name) << c;
    EXPECT_TRUE(name.isFirstResponder()) << c;
  }
  EXPECT_EQ(name.text(), typed);
  EXPECT_TRUE(breaths.empty());
  EXPECT_EQ(FluvaneGfx::state(), 0);
  EXPECT_EQ(settings.rootModePicker(), nullptr);  // never asked for
  type('x');  // the fourteenth
  EXPECT_EQ(name.text(), typed);

  // Return ends the editing and keeps the name; the keys play again.
  key(SDLK_RETURN, true);
  EXPECT_FALSE(name.isFirstResponder());
  EXPECT_EQ(FluvaneStats::defaultFluvaneStats().fluvaneName(), typed);
  key(SDLK_e, true);
  EXPECT_EQ(input.fingers().size(), 1u);
  key(SDLK_e, false);
  // Escape ends an editing too, without ending the program.
  click(static_cast<int>(middle.x), static_cast<int>(middle.y));
  ASSERT_TRUE(name.isFirstResponder());
  key(SDLK_ESCAPE, true);
  EXPECT_FALSE(name.isFirstResponder());
  EXPECT_FALSE(app->terminated());
}

}  // namespace
