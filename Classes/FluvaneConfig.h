// The instrument's configured addresses: the product's web page and its
// store page (the tutorial video lives under the framework's redirect base,
// vxu/VXConfig.h). All open in the desktop's browser through the platform's
// URL opener, which takes http, https and mailto only.
#ifndef CLASSES_FLUVANECONFIG_H
#define CLASSES_FLUVANECONFIG_H

#define FLUVANE_PRODUCT_PAGE "https://fluvane.org/fluvane/"
#define FLUVANE_STORE_PAGE "https://fluvane.org/fluvane/store/"
// The credit the earth's imagery asks for, shown on the information screen.
#define FLUVANE_EARTH_CREDIT \
  "Earth imagery: NASA Visible Earth (visibleearth.nasa.gov), from Debian's xplanet-images."

#endif
