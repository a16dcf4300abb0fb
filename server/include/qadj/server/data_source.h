// Data sources and data links: how controls follow a data set.
//
// A TDataSet notifies every TDataSource bound to it; each data source turns the
// notification into calls of the hooks of its TDataLinks (one per bound control):
//
//   deFieldChange (field)      recordChanged(field)
//   deRecordChange             recordChanged(nullptr)
//   deDataSetChange            dataSetChanged()
//   deDataSetChange (kEditEnded) recordEditEnded()   by default dataSetChanged()
//   deDataSetScroll (distance) dataSetScrolled(distance)
//   deLayoutChange             layoutChanged()
//   deUpdateRecord             updateData()       write pending values now
//   deCheckBrowseMode          checkBrowseMode()  write pending values now
//   deUpdateState              activeChanged() when the data set opened or closed,
//                              editingChanged() when editing began or ended
//   deConnectChange            connectChanged(connected)
//
// A hook may call back into the data set (e.g. write a field in updateData). Links
// and data sources are not owned by what they are bound to; either side may be
// destroyed first.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "qadj/server/dataset.h"

namespace qadj {

class TDataLink;

class TDataSource {
 public:
  explicit TDataSource(std::string name = {});
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  const std::string& Name() const { return name_; }
  TDataSet* DataSet() const { return dataSet_; }
  // Binds to another data set (or none); links hear activeChanged when the open
  // state seen through the source changes.
  void SetDataSet(TDataSet* ds);
  // The bound data set's state; dsInactive without one.
  TDataSetState State() const;

  // Optional observers (the window may use them).
  std::function<void()> OnStateChange;
  std::function<void(TField*)> OnDataChange;  // field, or null for the whole record
  std::function<void()> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void AddLink(TDataLink* l);
  void RemoveLink(TDataLink* l);
  void DataSetGone();

  std::string name_;
  TDataSet* dataSet_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState lastState_ = TDataSetState::dsInactive;
};

// Base of a control's connection to a data source. Override the hooks you need.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  // Binds to a data source (or none); calls activeChanged when Active() changes.
  void SetDataSource(TDataSource* ds);
  TDataSet* DataSet() const;
  // The data set is open.
  bool Active() const;
  // The data set is editing or inserting.
  bool Editing() const;

 protected:
  friend class TDataSource;
  virtual void activeChanged() {}
  virtual void editingChanged() {}
  virtual void recordChanged(TField* /*field*/) {}
  virtual void dataSetChanged() {}
  // An edit of the current record was posted or cancelled; a link that keeps copies
  // of other records may keep them.
  virtual void recordEditEnded() { dataSetChanged(); }
  virtual void dataSetScrolled(int /*distance*/) {}
  virtual void layoutChanged() {}
  virtual void updateData() {}
  virtual void checkBrowseMode() {}
  virtual void connectChanged(bool /*connected*/) {}

 private:
  // Compares Active()/Editing() with what the link last saw and calls the hooks.
  void UpdateState();

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
};

}  // namespace qadj
