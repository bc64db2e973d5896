// The framework's configuration values: where the web service's pieces and
// the maker's pages live, and where mail goes.
//
// The service's base address itself (APP_URL) is not built in: it comes
// from FLUVANE_SERVICE_URL or home()/service.conf (see VXHttp.h), so the
// program talks to no service until one is configured. The shared secrets
// of the signatures live in VXSecrets.cpp only.
#ifndef VXU_VXCONFIG_H
#define VXU_VXCONFIG_H

// The product's path under the service base.
#define APP_SERVER_LOCATION "/fluvane"
// The service's server-object endpoint, under the base and product path.
#define APP_SERVER_OBJECT_PATH "/serverobject/"
// Opened in the browser: the tutorial video lives under the redirect base.
#define APP_REDIRECT_BASE "https://fluvane.org/redirect"
#define APP_HOME_PAGE "https://fluvane.org/"
// Feedback and registration mails go here.
#define APP_FEEDBACK_ADDRESS "feedback@fluvane.org"
#define APP_REGISTRATION_ADDRESS "register@fluvane.org"

#endif
