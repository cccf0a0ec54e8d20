#include "app/qt/CDownloadApp.h"

int main(int argc, char** argv) {
    qdx::app::CDownloadApp app;
    return app.Run(argc, argv);
}
