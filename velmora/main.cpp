#include "app.h"

int main(int argc, char** argv) {
  CPelgrinApp app(argc, argv);
  if (!app.InitInstance()) return 1;
  return app.exec();
}
