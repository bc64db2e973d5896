// The instrument's preferences: key (root) and scale mode, the colours of
// the finger holes and the breath display, audio while sleeping, the
// melody-upload choice, touch mode, the hole layout, and the account's name,
// password and sign-in state.
//
// Every value lives in the user defaults (nothing is cached here), so it is
// persistent as soon as it is set; the defaults file is written with mode
// 0600 (it holds the password). The class also owns the fixed tables that
// turn a root name into a MIDI note number, a mode name into the scripts'
// mode number and a colour name into a colour. A name outside a table gives
// 0 for roots and modes (mode 0 is "Mixolydian") and no colour.
//
// Melody upload: 0 off, 1 automatic upload of recorded snippets, 2 manual
// recording.
//
// Threads: any thread (the user defaults' lock); the tables are built once,
// thread-safely, on first use.
#ifndef CLASSES_FLUVANEPREFERENCES_H
#define CLASSES_FLUVANEPREFERENCES_H

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Geometry.h"
#include "vxu/VXPreferences.h"

extern const char* const FluvanePreferenceRootKey;
extern const char* const FluvanePreferenceModeKey;
extern const char* const FluvanePreferenceFingerColorKey;
extern const char* const FluvanePreferenceBreathColorKey;
extern const char* const FluvanePreferenceEnableAudioWhenSleepingKey;
extern const char* const FluvanePreferenceEnableMelodyUploadKey;
extern const char* const FluvanePreferenceEnableTouchMode;
extern const char* const FluvanePreferenceLayoutMode12;
extern const char* const FluvanePreferenceUsername;
extern const char* const FluvanePreferencePassword;
extern const char* const FluvanePreferenceSignedIn;

class FluvanePreferences : public VXPreferences {
 public:
  using Color = platform::ui::Color;

  // The one instance over the standard user defaults (never released).
  static FluvanePreferences& standardFluvanePreferences();

  // defaults: null means the standard user defaults. Registers defaults().
  explicit FluvanePreferences(platform::UserDefaults* defaults = nullptr);

  // The base's defaults and the instrument's eleven; the touch mode's
  // default is computed from the device model at each call.
  platform::plist::Dict defaults() const override;

  std::string root() const;
  void setRoot(const std::string& name);
  std::string mode() const;
  void setMode(const std::string& name);
  std::string fingerColor() const;
  void setFingerColor(const std::string& name);
  std::string breathColor() const;
  void setBreathColor(const std::string& name);
  bool enableAudioWhenSleeping() const;
  void setEnableAudioWhenSleeping(bool on);
  int enableMelodyUpload() const;
  void setEnableMelodyUpload(int choice);
  bool enableTouchMode() const;
  void setEnableTouchMode(bool on);
  int getLayoutMode() const;
  void setLayoutMode(int layout);
  std::string getUsername() const;
  void setUsername(const std::string& name);
  std::string getPassword() const;
  void setPassword(const std::string& password);
  bool isSignedIn() const;
  void setSignedIn(bool signedIn);

  static const std::vector<std::string>& availableRoots();
  static const std::vector<std::string>& availableModes();
  static const std::vector<std::string>& availableFingerColors();
  static const std::vector<std::string>& availableBreathColors();

  static int rootIndexForRootName(const std::string& name);
  static int modeIndexForModeName(const std::string& name);
  static std::optional<Color> uiColorForColorName(const std::string& name);
  static std::optional<Color> fingerColorForFingerColorName(const std::string& name);
  static std::optional<Color> breathColorForBreathColorName(const std::string& name);

 private:
  bool boolFor(const char* key) const;
  int intFor(const char* key) const;
};

#endif
