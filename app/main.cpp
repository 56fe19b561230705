#include "app/CTovaLauncherApp.h"

int main() {
  CTovaLauncherApp app;
  return app.InitInstance();
}
