// The framework's screens, laid out in code: one builder per screen sets
// frames, tags, titles and images and connects the parts the way an
// interface file would, then runs the parts' awakeFromNib.
//
//  - makeMainToolbar: a 320 x 44 toolbar at the bottom of the screen; its
//    collapsed button "Menu" (102) expands a bar of "Info" (1004), "Help"
//    (1006), "Settings" (1007) and "Close" (103); an application may give
//    its own bar items (title and message code).
//  - makeInfoScreen: the information text in a scrolling text view, the
//    rich-content panel (image button, title, body), and buttons "Report
//    Issue", "Tutorial", "Web" and "Done" (1005).
//  - makeHelpScreen: the help page filling the screen and the help toolbar
//    at the top: "Back" (1100), "Next" (1101), "Done" (200).
//  - makeSettingsScreen: a title, a picker and "Done" (3001).
//  - makeSplashView: the splash image over the whole screen.
//
// Threads: main thread only.
#ifndef VXU_UI_VXSCREENS_H
#define VXU_UI_VXSCREENS_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/Toolbar.h"
#include "vxu/ui/VXInfoAddView.h"
#include "vxu/ui/VXImageSequenceController.h"
#include "vxu/ui/VXMainToolbar.h"
#include "vxu/ui/VXUIViewController.h"

// A bar of items (title and message code) whose presses go to the toolbar.
std::shared_ptr<platform::ui::Toolbar> makeToolbarBar(
    VXMainToolbar* toolbar, const platform::ui::Rect& frame,
    const std::vector<std::pair<std::string, int>>& items);
// For a toolbar at the top edge, whose location turns its expanded bar a
// half turn: a holder of the bar's frame with the bar turned back inside
// it, so that the items read upright and in order.
std::shared_ptr<platform::ui::View> turnedBackForTopEdge(
    const std::shared_ptr<platform::ui::View>& bar);
std::shared_ptr<VXMainToolbar> makeMainToolbar();
std::shared_ptr<VXMainToolbar> makeMainToolbar(
    const std::vector<std::pair<std::string, int>>& items);
std::unique_ptr<VXInfoViewControler> makeInfoScreen();
std::unique_ptr<VXImageSequenceController> makeHelpScreen();
std::unique_ptr<VXUIViewController> makeSettingsScreen();
std::shared_ptr<VXSplashView> makeSplashView();

#endif
