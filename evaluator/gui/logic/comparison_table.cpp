#include "gui/logic/comparison_table.hpp"

#include "report/original_report.hpp"

#include <vntr/codec_api.h>

namespace vntr::gui {
namespace {

using evaluator::CodecSlot;

QString Number(const std::optional<double> &v, int decimals) {
    return v ? QString::number(*v, 'f', decimals) : QString();
}

std::optional<double> Speed(uint64_t micros, const CodecSlot &slot) {
    const double x = report::RealTimeFactor(micros, slot);
    return x > 0 ? std::optional<double>(x) : std::nullopt;
}

QString SpeedText(const std::optional<double> &x) {
    if (!x) return {};
    return QString::number(*x, 'f', *x >= 100 ? 0 : *x >= 10 ? 1 : 2) + QStringLiteral(" \u00d7");
}

} // namespace

std::optional<double> ComparisonRow::DelayMs() const {
    if (!delaySamples || sampleRate <= 0) return std::nullopt;
    return *delaySamples * 1000.0 / sampleRate;
}

std::string ModeText(const CodecSlot &slot) {
    std::vector<std::string> parts;
    const uint32_t offered = slot.info.optionMask;
    const uint32_t used = slot.encoderOptions & offered;
    if ((used & CODEC_OPT_4800) != 0) parts.emplace_back("4800 bit/s");
    if ((used & CODEC_OPT_6400) != 0) parts.emplace_back("6400 bit/s");
    // A codec with fixed rates to choose from, run without a choice, takes its own.
    if ((offered & (CODEC_OPT_4800 | CODEC_OPT_6400)) != 0 && (used & (CODEC_OPT_4800 | CODEC_OPT_6400)) == 0) {
        parts.emplace_back("default rate");
    }
    if ((used & CODEC_OPT_VAD) != 0) parts.emplace_back("VAD");
    if (slot.downsampled != 0) parts.emplace_back("8 kHz copy");
    if (parts.empty()) return "standard";
    std::string text;
    for (const auto &p : parts) text += (text.empty() ? "" : ", ") + p;
    return text;
}

std::vector<ComparisonRow> ComparisonRows(const evaluator::Evaluator &ev) {
    std::vector<ComparisonRow> rows;
    for (const std::size_t i : report::ReportOrder(ev)) {
        const CodecSlot &slot = ev.Slots()[i];
        ComparisonRow row;
        row.name = slot.Name();
        row.description = slot.Description();
        row.mode = ModeText(slot);
        row.sampleRate = slot.sampleRate;
        const bool results = slot.HasResults() && !slot.failed;
        row.outcome = slot.failed ? "failed" : slot.formatFlags == 0 ? "not run" : !results ? "no result" : "ok";
        if (results) {
            row.bitRate = slot.runBitRate;
            row.ratio = slot.ratio;
            row.codingSpeed = Speed(slot.codingMicros, slot);
            row.decodingSpeed = Speed(slot.decodingMicros, slot);
            if (slot.quality.valid) {
                row.snrDb = slot.quality.snrDb;
                row.segmentalSnrDb = slot.quality.segmentalSnrDb;
                row.lsdDb = slot.quality.logSpectralDistanceDb;
                if (slot.quality.visqolValid) row.visqolMos = slot.quality.visqolMos;
                row.delaySamples = slot.quality.delaySamples;
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void ComparisonModel::SetRows(std::vector<ComparisonRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int ComparisonModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ComparisonModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ComparisonModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount) return {};
    const ComparisonRow &r = rows_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<Column>(index.column());
    auto value = [&]() -> std::optional<double> {
        switch (column) {
        case BitRate:
            return r.bitRate;
        case Ratio:
            return r.ratio;
        case CodingSpeed:
            return r.codingSpeed;
        case DecodingSpeed:
            return r.decodingSpeed;
        case Snr:
            return r.snrDb;
        case SegmentalSnr:
            return r.segmentalSnrDb;
        case Lsd:
            return r.lsdDb;
        case Visqol:
            return r.visqolMos;
        case Delay:
            return r.DelayMs();
        default:
            return std::nullopt;
        }
    };
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case Codec:
            return QString::fromStdString(r.name);
        case Mode:
            return QString::fromStdString(r.mode);
        case BitRate:
            // A codec without results says why in its bit-rate cell.
            return r.bitRate ? QString::number(*r.bitRate, 'f', 0) : QString::fromStdString(r.outcome);
        case Ratio:
            return r.ratio ? QString::number(*r.ratio, 'f', 1) + QStringLiteral(":1") : QString();
        case CodingSpeed:
            return SpeedText(r.codingSpeed);
        case DecodingSpeed:
            return SpeedText(r.decodingSpeed);
        case Delay:
            return Number(r.DelayMs(), 1);
        default:
            return Number(value(), 2);
        }
    case SortRole:
        if (column == Codec) return QString::fromStdString(r.name);
        if (column == Mode) return QString::fromStdString(r.mode);
        if (const auto v = value()) return *v;
        return {};
    case Qt::ToolTipRole:
        if (column == Codec) return QString::fromStdString(r.description);
        if (column == Delay && r.delaySamples) return QStringLiteral("%1 samples").arg(*r.delaySamples);
        if ((column == CodingSpeed || column == DecodingSpeed) && r.bitRate && !value()) {
            return QStringLiteral("too fast to time");
        }
        return {};
    case Qt::TextAlignmentRole:
        return column == Codec || column == Mode ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                                 : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant ComparisonModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    static const char *const kTitles[] = {
        "Codec",    "Mode",          "Bit rate (bit/s)", "Ratio",        "Coding (\u00d7RT)", "Decoding (\u00d7RT)",
        "SNR (dB)", "Seg. SNR (dB)", "LSD (dB)",         "ViSQOL (MOS)", "Delay (ms)"};
    static const char *const kTips[] = {
        "The codec's short name",
        "Options it ran with",
        "Coded bits per second of the original",
        "Original size to coded size",
        "Coding speed in multiples of real time: seconds of audio per second of processor time",
        "Decoding speed in multiples of real time: seconds of audio per second of processor time",
        "Signal-to-noise ratio of the whole decoded file",
        "Mean SNR of the active 20 ms segments",
        "Log-spectral distance over the active frames (lower is closer)",
        "ViSQOL v3 speech mode: predicted listening-test score, 1 (bad) to 5 (excellent), at 16 kHz",
        "How far the decoded file lags the original"};
    if (role == Qt::DisplayRole) return QString::fromUtf8(kTitles[section]);
    if (role == Qt::ToolTipRole) return QString::fromUtf8(kTips[section]);
    return {};
}

ComparisonSortModel::ComparisonSortModel(QObject *parent) : QSortFilterProxyModel(parent) {
    setSortRole(ComparisonModel::SortRole);
}

bool ComparisonSortModel::lessThan(const QModelIndex &left, const QModelIndex &right) const {
    const QVariant a = left.data(sortRole());
    const QVariant b = right.data(sortRole());
    if (!a.isValid() || !b.isValid()) {
        // The sort turns the order round when descending: a missing value is
        // the largest going up and the smallest going down.
        if (a.isValid() == b.isValid()) return false;
        return sortOrder() == Qt::DescendingOrder ? !a.isValid() : !b.isValid();
    }
    if (a.typeId() == QMetaType::QString || b.typeId() == QMetaType::QString) {
        return QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive) < 0;
    }
    return a.toDouble() < b.toDouble();
}

} // namespace vntr::gui
