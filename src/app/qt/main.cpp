#include "app/qt/Application.h"
#include "platform/LeakSuppressions.h"

int main(int argc, char** argv) {
    return morvane::app::runMorvane(argc, argv);
}
