#include "gui_test_support.hpp"

#include <QDir>
#include <QFile>

#include <vector>

namespace vntr::gui::test {
namespace {

void Put16(QByteArray &b, uint16_t v) {
    b.append(static_cast<char>(v & 0xFF));
    b.append(static_cast<char>(v >> 8));
}
void Put32(QByteArray &b, uint32_t v) {
    Put16(b, static_cast<uint16_t>(v & 0xFFFF));
    Put16(b, static_cast<uint16_t>(v >> 16));
}

} // namespace

bool WriteWave(const QString &path, int rate, int channels, int bits, const QByteArray &pcm) {
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    QByteArray b("RIFF");
    Put32(b, static_cast<uint32_t>(36 + pcm.size() + (pcm.size() & 1)));
    b.append("WAVEfmt ");
    Put32(b, 16);
    Put16(b, 1);
    Put16(b, static_cast<uint16_t>(channels));
    Put32(b, static_cast<uint32_t>(rate));
    Put32(b, static_cast<uint32_t>(rate) * align);
    Put16(b, align);
    Put16(b, static_cast<uint16_t>(bits));
    b.append("data");
    Put32(b, static_cast<uint32_t>(pcm.size()));
    b.append(pcm);
    if (pcm.size() & 1) b.append('\0');
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(b) == b.size();
}

bool WriteSpeechAt11k(const QString &path) {
    QFile in(SpeechWave());
    if (!in.open(QIODevice::ReadOnly)) return false;
    const QByteArray whole = in.readAll();
    const qsizetype data = whole.indexOf("data");
    if (data < 0) return false;
    const QByteArray pcm = whole.mid(data + 8);
    const auto *s = reinterpret_cast<const unsigned char *>(pcm.constData());
    const qsizetype n = pcm.size() / 2;
    std::vector<double> x(static_cast<std::size_t>(n));
    for (qsizetype i = 0; i < n; ++i)
        x[static_cast<std::size_t>(i)] = static_cast<int16_t>(s[2 * i] | s[2 * i + 1] << 8);
    const auto outCount = static_cast<qsizetype>(static_cast<double>(n) * 11025 / 8000);
    QByteArray out;
    for (qsizetype j = 0; j < outCount; ++j) {
        const double at = static_cast<double>(j) * 8000 / 11025;
        const auto i = static_cast<std::size_t>(at);
        const double f = at - static_cast<double>(i);
        const double v = i + 1 < x.size() ? x[i] * (1 - f) + x[i + 1] * f : x[i];
        Put16(out, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v))));
    }
    return WriteWave(path, 11025, 1, 16, out);
}

TestPlace::TestPlace() {
    QDir().mkpath(Temp());
    QDir().mkpath(Files());
    qputenv("VNTR_USER_HIVE", UserHive().toUtf8());
    qputenv("VNTR_WINDIR", VNTR_TEST_STAGE_ROOT);
    qputenv("VNTR_MACHINE_HIVE", VNTR_TEST_STAGE_ROOT "/VNTR/registry/machine.hive");
}

} // namespace vntr::gui::test
