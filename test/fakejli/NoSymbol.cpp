// A loadable library without JLI_Launch.
extern "C" int kvtestNotTheLauncher() {
    return 0;
}
