// Option sets of the data-bound grid. Each set is a bit set whose bit n is the n-th
// flag in declaration order; flags without behaviour are accepted and stored.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace qadj::grid {

enum class TdxDBGridOptionDB {
  edgoCanAppend,
  edgoCancelOnExit,
  edgoCanDelete,
  edgoCanInsert,
  edgoCanNavigation,
  edgoConfirmDelete,
  edgoLoadAllRecords,
  edgoPartialLoad,
  edgoResetColumnFocus,
  edgoSmartRefresh,
  edgoSmartReload,
  edgoSyncSelection,
  edgoUseBookmarks,
  edgoUseLocate,
};

enum class TdxDBGridOptionView {
  edgoAutoCalcPreviewLines,
  edgoAutoHeaderPanelHeight,
  edgoAutoWidth,
  edgoBandHeaderWidth,
  edgoDrawEndEllipsis,
  edgoHideFocusRect,
  edgoHotTrack,
  edgoIndicator,
  edgoInvertSelect,
  edgoPreview,
  edgoRowAutoHeight,
  edgoRowSelect,
  edgoShowButtonAlways,
  edgoUseBitmap,
};

enum class TdxDBGridOptionBehavior {
  edgoAnsiSort,
  edgoAutoCopySelectedToClipboard,
  edgoAutoSearch,
  edgoAutoSort,
  edgoBandButtonClicking,
  edgoCaseInsensitive,
  edgoCellMultiSelect,
  edgoCollapsedReload,
  edgoDblClick,
  edgoDragCollapse,
  edgoDragExpand,
  edgoDragScroll,
  edgoEditing,
  edgoEnterShowEditor,
  edgoEnterThrough,
  edgoExtMultiSelect,
  edgoHeaderButtonClicking,
  edgoHorzThrough,
  edgoImmediateEditor,
  edgoMouseScroll,
  edgoMultiSelect,
  edgoMultiSort,
  edgoSeekDetail,
  edgoShowHourGlass,
  edgoStoreToIniFile,
  edgoStoreToRegistry,
  edgoTabs,
  edgoTabThrough,
  edgoVertThrough,
};

enum class TdxDBGridOptionCustomize {
  edgoBandMoving,
  edgoBandPanelSizing,
  edgoBandSizing,
  edgoColumnMoving,
  edgoColumnSizing,
  edgoExtCustomizing,
  edgoFullSizing,
  edgoHeaderPanelSizing,
  edgoKeepColumnWidth,
  edgoNotHideColumn,
  edgoRowSizing,
};

// A set of flags of one enumeration, held as bits in declaration order.
template <class Flag>
class OptionSet {
 public:
  constexpr OptionSet() = default;
  constexpr OptionSet(std::initializer_list<Flag> flags) {
    for (Flag f : flags) bits_ |= bit(f);
  }
  static constexpr OptionSet fromBits(std::uint32_t bits) {
    OptionSet s;
    s.bits_ = bits;
    return s;
  }

  constexpr bool has(Flag f) const { return (bits_ & bit(f)) != 0; }
  constexpr OptionSet& include(Flag f) {
    bits_ |= bit(f);
    return *this;
  }
  constexpr OptionSet& exclude(Flag f) {
    bits_ &= ~bit(f);
    return *this;
  }
  constexpr OptionSet with(Flag f) const { return OptionSet(*this).include(f); }
  constexpr std::uint32_t bits() const { return bits_; }
  friend constexpr bool operator==(OptionSet, OptionSet) = default;

 private:
  static constexpr std::uint32_t bit(Flag f) { return std::uint32_t{1} << static_cast<int>(f); }
  std::uint32_t bits_ = 0;
};

using TdxDBGridOptionsDB = OptionSet<TdxDBGridOptionDB>;
using TdxDBGridOptionsView = OptionSet<TdxDBGridOptionView>;
using TdxDBGridOptionsBehavior = OptionSet<TdxDBGridOptionBehavior>;
using TdxDBGridOptionsCustomize = OptionSet<TdxDBGridOptionCustomize>;

inline constexpr TdxDBGridOptionsDB kDefaultOptionsDB{
    TdxDBGridOptionDB::edgoCancelOnExit,  TdxDBGridOptionDB::edgoCanDelete,
    TdxDBGridOptionDB::edgoCanInsert,     TdxDBGridOptionDB::edgoCanNavigation,
    TdxDBGridOptionDB::edgoConfirmDelete, TdxDBGridOptionDB::edgoUseBookmarks};
inline constexpr TdxDBGridOptionsView kDefaultOptionsView{TdxDBGridOptionView::edgoBandHeaderWidth,
                                                          TdxDBGridOptionView::edgoUseBitmap};
inline constexpr TdxDBGridOptionsBehavior kDefaultOptionsBehavior{
    TdxDBGridOptionBehavior::edgoAutoSort,        TdxDBGridOptionBehavior::edgoDragScroll,
    TdxDBGridOptionBehavior::edgoEditing,         TdxDBGridOptionBehavior::edgoEnterShowEditor,
    TdxDBGridOptionBehavior::edgoImmediateEditor, TdxDBGridOptionBehavior::edgoTabThrough,
    TdxDBGridOptionBehavior::edgoVertThrough};
inline constexpr TdxDBGridOptionsCustomize kDefaultOptionsCustomize{
    TdxDBGridOptionCustomize::edgoBandMoving, TdxDBGridOptionCustomize::edgoBandSizing,
    TdxDBGridOptionCustomize::edgoColumnMoving, TdxDBGridOptionCustomize::edgoColumnSizing};

enum class TdxLookAndFeel { lfStandard, lfFlat, lfUltraFlat };
enum class TAlignment { taLeftJustify, taRightJustify, taCenter };
enum class TdxGridColumnSorted { csNone, csDown, csUp };
enum class TSummaryType { cstNone, cstSum, cstMin, cstMax, cstCount, cstAvg };

}  // namespace qadj::grid
