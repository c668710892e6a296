#include "app/qt/program.h"

int main(int argc, char** argv) {
    return tessaly::runProgram(argc, argv, tessaly::WindowSeams());
}
