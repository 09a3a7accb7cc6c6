// zelk-mail: hands the launch configuration to the launcher.
#include "app/launch_config.h"

int main(int argc, char** argv) { runtime::ui::run_or_exit(mail::app::launch_config(), argc, argv); }
