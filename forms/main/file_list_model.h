#pragma once
// The rows of the file list: one per JPEG file, in the order they were added. A row holds the
// caption (the path as handed in, its real bytes), one error text and the state index. The model
// also keeps the index of listed paths and the counts per state, so that "already listed" and the
// status bar summary cost nothing per row.

#include <QAbstractTableModel>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/paths/listed_paths.h"
#include "core/program/status_texts.h"
#include "core/walk/walk_engine.h"

enum TItemState : std::uint8_t { isUnchecked = 0, isNormal = 1, isError = 2 };

class TFileListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { FileNameColumn = 0, ErrorColumn = 1, ColumnCount = 2 };

    explicit TFileListModel(QObject* parent = nullptr);

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int Count() const { return static_cast<int>(m_rows.size()); }
    // Appends an Unchecked row with an empty error text; the row joins the index at once.
    int AppendRow(const std::string& caption);
    // True when a row's caption is the same path (vorn::SamePath).
    bool IsListed(const std::string& path) const;
    const std::string& Caption(int row) const;
    TItemState State(int row) const;
    const std::string& ErrorText(int row) const;
    void SetState(int row, TItemState state);
    void SetErrorText(int row, const std::string& text);
    // The reason for the row's verdict in a sentence: its tooltip and accessible description.
    // Empty: the sentence of its state (not checked, both markers in place).
    const std::string& Reason(int row) const;
    void SetReason(int row, std::string reason);
    // What the row's last check found, for the report; null for a row not checked, and for one
    // whose markers were both in place with nothing more to say (its state tells).
    const vorn::FileResult* Result(int row) const;
    void SetResult(int row, const vorn::FileResult& result);
    // Removes every row in one step and empties the index.
    void Clear();
    // Changes whenever the list is emptied: a run that started before can tell.
    std::uint64_t Generation() const { return m_generation; }
    vorn::StateCounts Counts() const { return m_counts; }

private:
    struct Row {
        std::string caption;
        std::string errorText;
        std::string reason;
        std::unique_ptr<vorn::FileResult> result;
        TItemState state = isUnchecked;
    };
    // Counts one more row in `state` (delta > 0) or one fewer.
    void AdjustStateCount(TItemState state, int delta);

    std::vector<Row> m_rows;
    vorn::ListedPaths m_listed;
    vorn::StateCounts m_counts;
    std::uint64_t m_generation = 0;
};
