// Writes the program's icon files for installation and the Windows resources:
// qdxclient-16.png, qdxclient-32.png and qdxclient.ico (both sizes, stored as PNG).
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

#include <cstdio>

#include "app/qt/AppIcon.h"

namespace {

QByteArray Png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void Put16(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(QByteArray& out, qint64 value) {
    Put16(out, static_cast<int>(value & 0xFFFF));
    Put16(out, static_cast<int>((value >> 16) & 0xFFFF));
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qdx_make_icons OUTPUT_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int sizes[] = {16, 32};
    QByteArray images[2];
    for (int i = 0; i < 2; ++i) {
        images[i] = Png(qdx::app::AppIconImage(sizes[i]));
        if (!WriteFile(QString("%1/qdxclient-%2.png").arg(dir).arg(sizes[i]), images[i])) {
            std::fprintf(stderr, "qdx_make_icons: cannot write into %s\n", argv[1]);
            return 1;
        }
    }
    // An icon directory of two PNG entries.
    QByteArray ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, 2);
    qint64 offset = 6 + 2 * 16;
    for (int i = 0; i < 2; ++i) {
        ico.append(static_cast<char>(sizes[i]));
        ico.append(static_cast<char>(sizes[i]));
        ico.append('\0');  // no palette
        ico.append('\0');
        Put16(ico, 1);   // planes
        Put16(ico, 32);  // bits per pixel
        Put32(ico, images[i].size());
        Put32(ico, offset);
        offset += images[i].size();
    }
    ico.append(images[0]);
    ico.append(images[1]);
    if (!WriteFile(dir + "/qdxclient.ico", ico)) {
        std::fprintf(stderr, "qdx_make_icons: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
