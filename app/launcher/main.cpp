#include "app/launcher/CTovaLauncherApp.h"

int main() {
  CTovaLauncherApp app;
  return app.InitInstance();
}
