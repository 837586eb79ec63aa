// Process entry: recognises GUI mode, then hands over to the real main.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gui/gui_glue.h"
#include "src/frame.h"

int main(int argc, char **argv) {
    if (argc > 3 && std::strcmp(argv[1], "-jolgui") == 0) {
        _jolgui_readfd = std::atoi(argv[2]);
        _jolgui_writefd = std::atoi(argv[3]);
        static std::vector<char *> vec;
        vec.push_back(argv[0]);
        for (int i = 4; i < argc; ++i)
            vec.push_back(argv[i]);
        vec.push_back(nullptr);
        argc -= 3;
        argv = vec.data();
        jol_process_init();
        reopen_consoles();
    }
    jolguiglue_main(argc, argv);
}
