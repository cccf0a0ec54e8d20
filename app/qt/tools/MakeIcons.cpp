// Writes the program's icon files for installation and the Windows resources:
// qdxclient-N.png for every installed size, qdxclient.svg, and qdxclient.ico (16, 32 and 48 as
// bitmaps, which every Windows version reads, 256 as PNG).
#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

#include <cstdio>
#include <vector>

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

// An icon image as a device-independent bitmap: the header with the doubled height, the
// 32-bit pixels bottom-up, then the 1-bit mask (set where the icon is transparent).
QByteArray IconBitmap(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int size = image.width();
    const int maskStride = ((size + 31) / 32) * 4;
    QByteArray out;
    Put32(out, 40);
    Put32(out, size);
    Put32(out, 2 * size);
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, 0);  // uncompressed
    Put32(out, static_cast<qint64>(size) * size * 4 + static_cast<qint64>(maskStride) * size);
    for (int i = 0; i < 4; ++i) {
        Put32(out, 0);
    }
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            Put32(out, image.pixel(x, y));  // 0xAARRGGBB: stored as B, G, R, A
        }
    }
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < size; ++x) {
            if (qAlpha(image.pixel(x, y)) == 0) {
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        out.append(row);
    }
    return out;
}

QByteArray IconFile(const std::vector<std::pair<int, QByteArray>>& entries) {
    QByteArray ico;
    Put16(ico, 0);
    Put16(ico, 1);
    Put16(ico, static_cast<int>(entries.size()));
    qint64 offset = 6 + 16 * static_cast<qint64>(entries.size());
    for (const auto& [size, data] : entries) {
        ico.append(static_cast<char>(size >= 256 ? 0 : size));
        ico.append(static_cast<char>(size >= 256 ? 0 : size));
        ico.append('\0');  // no palette
        ico.append('\0');
        Put16(ico, 1);   // planes
        Put16(ico, 32);  // bits per pixel
        Put32(ico, data.size());
        Put32(ico, offset);
        offset += data.size();
    }
    for (const auto& entry : entries) {
        ico.append(entry.second);
    }
    return ico;
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
    bool written = true;
    for (int size : qdx::app::kAppIconSizes) {
        written = written && WriteFile(QString("%1/qdxclient-%2.png").arg(dir).arg(size),
                                       Png(qdx::app::AppIconImage(size)));
    }
    written = written && WriteFile(dir + "/qdxclient.svg", qdx::app::AppIconSvg());
    std::vector<std::pair<int, QByteArray>> entries;
    for (int size : {16, 32, 48}) {
        entries.emplace_back(size, IconBitmap(qdx::app::AppIconImage(size)));
    }
    entries.emplace_back(256, Png(qdx::app::AppIconImage(256)));
    written = written && WriteFile(dir + "/qdxclient.ico", IconFile(entries));
    if (!written) {
        std::fprintf(stderr, "qdx_make_icons: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
