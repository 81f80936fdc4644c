#include "forms/main/file_list_model.h"

#include <QPixmap>

#include "components/display_text.h"
#include "core/check/verdict_sentence.h"
#include "forms/main/state_images.h"

namespace {

std::string RowSentence(const std::string& reason, TItemState state) {
    if (!reason.empty()) {
        return reason;
    }
    if (state == isUnchecked) {
        return vorn::UncheckedSentence();
    }
    vorn::FileResult sound;
    sound.verdict = vorn::MarkerVerdict::Normal;
    return vorn::VerdictSentence(sound);
}

} // namespace

TFileListModel::TFileListModel(QObject* parent)
    : QAbstractTableModel(parent) {}

int TFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int TFileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count()) {
        return {};
    }
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return DisplayText(index.column() == FileNameColumn ? row.caption : row.errorText);
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
        return DisplayText(RowSentence(row.reason, row.state));
    case Qt::DecorationRole:
        if (index.column() == FileNameColumn) {
            return StateImage(row.state);
        }
        return {};
    default:
        return {};
    }
}

QVariant TFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case FileNameColumn:
        return QStringLiteral("File Name");
    case ErrorColumn:
        return QStringLiteral("Error");
    default:
        return {};
    }
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    // Selectable, never editable: captions cannot be edited in place.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int TFileListModel::AppendRow(const std::string& caption) {
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.push_back(Row{caption, std::string(), std::string(), nullptr, isUnchecked});
    m_listed.Insert(caption);
    AdjustStateCount(isUnchecked, +1);
    endInsertRows();
    return row;
}

bool TFileListModel::IsListed(const std::string& path) const {
    return m_listed.Contains(path);
}

const std::string& TFileListModel::Caption(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).caption;
}

TItemState TFileListModel::State(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).state;
}

const std::string& TFileListModel::ErrorText(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).errorText;
}

void TFileListModel::SetState(int row, TItemState state) {
    Row& target = m_rows.at(static_cast<std::size_t>(row));
    if (target.state == state) {
        return;
    }
    AdjustStateCount(target.state, -1);
    target.state = state;
    AdjustStateCount(state, +1);
    const QModelIndex cell = index(row, FileNameColumn);
    emit dataChanged(cell, cell, {Qt::DecorationRole});
}

void TFileListModel::SetErrorText(int row, const std::string& text) {
    Row& target = m_rows.at(static_cast<std::size_t>(row));
    if (target.errorText == text) {
        return;
    }
    target.errorText = text;
    const QModelIndex cell = index(row, ErrorColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::AccessibleTextRole});
}

const std::string& TFileListModel::Reason(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).reason;
}

void TFileListModel::SetReason(int row, std::string reason) {
    Row& target = m_rows.at(static_cast<std::size_t>(row));
    if (target.reason == reason) {
        return;
    }
    target.reason = std::move(reason);
    const QModelIndex first = index(row, FileNameColumn);
    const QModelIndex last = index(row, ErrorColumn);
    emit dataChanged(first, last, {Qt::ToolTipRole, Qt::AccessibleDescriptionRole});
}

const vorn::FileResult* TFileListModel::Result(int row) const {
    return m_rows.at(static_cast<std::size_t>(row)).result.get();
}

void TFileListModel::SetResult(int row, const vorn::FileResult& result) {
    Row& target = m_rows.at(static_cast<std::size_t>(row));
    const bool plain =
        !result.deep && result.verdict == vorn::MarkerVerdict::Normal && result.detail.empty();
    target.result = plain ? nullptr : std::make_unique<vorn::FileResult>(result);
}

void TFileListModel::Clear() {
    beginResetModel();
    // Swapped out so that the memory of a large list is returned at once.
    std::vector<Row>().swap(m_rows);
    m_listed.Clear();
    m_counts = vorn::StateCounts();
    ++m_generation;
    endResetModel();
}

void TFileListModel::AdjustStateCount(TItemState state, int delta) {
    std::size_t* counter = nullptr;
    switch (state) {
    case isUnchecked:
        counter = &m_counts.unchecked;
        break;
    case isNormal:
        counter = &m_counts.normal;
        break;
    case isError:
        counter = &m_counts.error;
        break;
    }
    if (counter != nullptr) {
        *counter = delta > 0 ? *counter + 1 : *counter - 1;
    }
}
