#include "app/qt/Application.h"

int main(int argc, char** argv) {
    return morvane::app::runMorvane(argc, argv);
}
