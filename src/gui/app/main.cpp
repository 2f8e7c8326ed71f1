#include "gui/app/Application.h"
#include "core/platform/LeakSuppressions.h"

int main(int argc, char** argv) {
    return morvane::app::runMorvane(argc, argv);
}
