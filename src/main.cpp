#include "shell/application.h"

int main(int argc, char** argv) {
    kestrova::run_application(argc, argv);
}
