// The comparison table: one row per codec of the last run, with its mode,
// bit rate, compression ratio, coding and decoding speed in multiples of
// real time, the objective measures and the delay; sortable by any column.
#pragma once

#include "core/evaluator.hpp"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <optional>
#include <string>
#include <vector>

namespace vntr::gui {

struct ComparisonRow {
    std::string name;
    std::string description;
    std::string mode;    // "6400 bit/s, VAD, 8 kHz copy"
    std::string outcome; // "ok", "failed", "not run", "no result"
    int sampleRate = 0;
    // Present only when the codec has results.
    std::optional<double> bitRate;
    std::optional<double> ratio;
    std::optional<double> codingSpeed;   // x real time; absent when too fast to time
    std::optional<double> decodingSpeed; // likewise
    // Present only when the decoded file was measured.
    std::optional<double> snrDb;
    std::optional<double> segmentalSnrDb;
    std::optional<double> lsdDb;
    std::optional<double> visqolMos; // ViSQOL MOS-LQO, when it could score the pair
    std::optional<int> delaySamples;

    std::optional<double> DelayMs() const;
    bool operator==(const ComparisonRow &) const = default;
};

// The codec's options as they ran: the fixed rate (or "default rate" for a
// codec that offers fixed rates but was given none), VAD, and the 8 kHz copy
// of an 11 kHz original; "standard" when none applies.
std::string ModeText(const evaluator::CodecSlot &slot);

// Every selected codec, in the order of the batch report (by bit rate, the
// ones without results last).
std::vector<ComparisonRow> ComparisonRows(const evaluator::Evaluator &ev);

class ComparisonModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        Codec,
        Mode,
        BitRate,
        Ratio,
        CodingSpeed,
        DecodingSpeed,
        Snr,
        SegmentalSnr,
        Lsd,
        Visqol,
        Delay,
        ColumnCount
    };
    // The value a column sorts by: a number, the name, or nothing (invalid)
    // when the codec lacks it.
    static constexpr int SortRole = Qt::UserRole;

    explicit ComparisonModel(QObject *parent = nullptr) : QAbstractTableModel(parent) {}

    // Replaces the rows (the table follows every run and session).
    void SetRows(std::vector<ComparisonRow> rows);
    const std::vector<ComparisonRow> &Rows() const { return rows_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    std::vector<ComparisonRow> rows_;
};

// Sorts by the model's SortRole: numbers as numbers, names alphabetically,
// and a codec that lacks the value at the bottom in either order.
class ComparisonSortModel final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ComparisonSortModel(QObject *parent = nullptr);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};

} // namespace vntr::gui
