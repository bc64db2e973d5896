// The instrument's own message codes. They travel on the same integer bus
// as the framework's codes (VXMessageCode: the toolbar's 100-103, the help
// pages' 300 and 301, the globe's 1001 and 1002, the information screen's
// 1004 and 1005, and so on) and keep numbers of their own, 4000 to 4008,
// so that the two sets never meet: the settings screen, the breath, the
// recording toolbar's buttons and the end of the help tune. The numbers are
// fixed: the recording toolbar carries them as button tags and the
// screens, the graphics and the recording controller send them by number.
//
// Who sends and who handles each code is said beside it; the application
// delegate (FluvaneAppDelegate::receiveMsg) turns the screen codes into
// screen changes through its table of screens.
#ifndef CLASSES_FLUVANEMESSAGES_H
#define CLASSES_FLUVANEMESSAGES_H

enum FluvaneMessageCode : int {
  // The settings screen: opened by the toolbar's settings button (the
  // framework's 1007 turns into it), closed by the screen itself and when
  // the instrument screen turns to or from the globe.
  kFluvaneMsgOpenSettings = 4000,
  kFluvaneMsgCloseSettings = 4001,
  // The graphics, from the drawing timer: a breath ripple, and the breath
  // running down.
  kFluvaneMsgBreathRipple = 4002,
  // The recording toolbar's buttons (their tags), for the recording
  // controller.
  kFluvaneMsgRecord = 4003,
  kFluvaneMsgPlay = 4004,
  kFluvaneMsgUpload = 4005,
  kFluvaneMsgMail = 4006,
  kFluvaneMsgBreathRanDown = 4007,
  // The recording controller: the help tune has ended (the help turns its
  // page).
  kFluvaneMsgHelpTuneEnded = 4008,
  // The instrument toolbar's globe button, for the instrument screen: to the
  // globe from the instrument (as 1002), back from the globe (as 1001).
  kFluvaneMsgToggleGlobe = 1010,
};

#endif
