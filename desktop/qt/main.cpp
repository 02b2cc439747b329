#include "desktop/qt/Program.h"

int main(int argc, char** argv) {
    return vornic::ui::qt::runProgram(argc, argv);
}
