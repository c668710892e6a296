#include "app/qt/program.h"

int main(int argc, char** argv) {
    tessaly::runProgram(argc, argv, tessaly::WindowSeams());
}
