// Something a picker can list by name.
#ifndef VXU_UI_VXNAMEDITEM_H
#define VXU_UI_VXNAMEDITEM_H

#include <string>

class VXNamedItem {
 public:
  virtual ~VXNamedItem() = default;
  virtual std::string getName() const = 0;
};

#endif
