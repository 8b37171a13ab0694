#include "driver/run.h"

int main(int argc, char** argv) { return zelk::run(argc, argv, stderr); }
