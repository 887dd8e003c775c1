// Quarry's desktop program: builds a web site's word index in the current directory.
#include "QuarryApp.h"

int main(int argc, char** argv) {
  quarry::QuarryApp app(argc, argv);
  app.InitInstance();
  return 0;
}
