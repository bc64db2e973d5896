// A spinning activity indicator: twelve spokes around the centre, the lead
// one brightest and the others fading behind it, turning one spoke every
// twelfth of a second while it animates.
//
// startAnimating shows it and starts a repeating timer on the main run
// loop that steps the lead spoke and asks for a redraw; stopAnimating
// cancels the timer and hides it. The timer ends with the view.
//
// Threads: main thread only.
#ifndef PLATFORM_UI_ACTIVITYINDICATOR_H
#define PLATFORM_UI_ACTIVITYINDICATOR_H

#include <cstdint>

#include "platform/ui/View.h"

namespace platform::ui {

class ActivityIndicator : public View {
 public:
  static constexpr int kSpokes = 12;
  static constexpr double kStepSeconds = 1.0 / 12.0;

  explicit ActivityIndicator(const Rect& frame = Rect(0, 0, 37, 37));
  ~ActivityIndicator() override;
  ActivityIndicator(const ActivityIndicator&) = delete;
  ActivityIndicator& operator=(const ActivityIndicator&) = delete;
  std::string className() const override { return "ActivityIndicator"; }
  std::string describe() const override;
  bool drawsContent() const override { return true; }
  void drawRect(Canvas& canvas, const Rect& bounds) override;

  void startAnimating();
  void stopAnimating();
  bool isAnimating() const { return timer_ != 0; }
  void setColor(Color color);
  // The brightest spoke, 0 (straight up) to kSpokes - 1 clockwise.
  int leadSpoke() const { return lead_; }

 private:
  std::uint64_t timer_ = 0;
  int lead_ = 0;
  Color color_ = Color::white();
};

}  // namespace platform::ui

#endif
