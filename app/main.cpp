#include "app/AppMain.h"

int main(int argc, char *argv[])
{
    return fennimar::AppMain::run(argc, argv);
}
