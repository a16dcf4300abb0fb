#include "qadj/server/data_source.h"

#include <algorithm>

namespace qadj {

TDataSource::TDataSource(std::string name) : name_(std::move(name)) {}

TDataSource::~TDataSource() {
  if (dataSet_) dataSet_->DetachDataSource(this);
  for (TDataLink* l : links_) l->dataSource_ = nullptr;
}

void TDataSource::SetDataSet(TDataSet* ds) {
  if (ds == dataSet_) return;
  if (dataSet_) dataSet_->DetachDataSource(this);
  dataSet_ = ds;
  if (dataSet_) dataSet_->AttachDataSource(this);
  DataEvent(TDataEvent::deUpdateState, 0);
}

TDataSetState TDataSource::State() const {
  return dataSet_ ? dataSet_->State() : TDataSetState::dsInactive;
}

void TDataSource::DataSetGone() {
  dataSet_ = nullptr;
  DataEvent(TDataEvent::deUpdateState, 0);
}

void TDataSource::AddLink(TDataLink* l) {
  if (std::find(links_.begin(), links_.end(), l) == links_.end()) links_.push_back(l);
}

void TDataSource::RemoveLink(TDataLink* l) {
  std::erase(links_, l);
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  // A hook may unbind links (or destroy them): call only those still bound.
  const auto links = links_;
  auto forEachLink = [&](auto&& call) {
    for (TDataLink* l : links)
      if (std::find(links_.begin(), links_.end(), l) != links_.end()) call(l);
  };
  switch (event) {
    case TDataEvent::deUpdateState: {
      const TDataSetState s = State();
      const bool changed = s != lastState_;
      lastState_ = s;
      forEachLink([](TDataLink* l) { l->UpdateState(); });
      if (changed && OnStateChange) OnStateChange();
      break;
    }
    case TDataEvent::deFieldChange: {
      auto* field = reinterpret_cast<TField*>(info);
      forEachLink([field](TDataLink* l) { l->recordChanged(field); });
      if (OnDataChange) OnDataChange(field);
      break;
    }
    case TDataEvent::deRecordChange:
      forEachLink([](TDataLink* l) { l->recordChanged(nullptr); });
      if (OnDataChange) OnDataChange(nullptr);
      break;
    case TDataEvent::deDataSetChange:
      forEachLink([info](TDataLink* l) {
        if (info == kEditEnded)
          l->recordEditEnded();
        else
          l->dataSetChanged();
      });
      if (OnDataChange) OnDataChange(nullptr);
      break;
    case TDataEvent::deDataSetScroll:
      forEachLink([info](TDataLink* l) { l->dataSetScrolled(static_cast<int>(info)); });
      if (OnDataChange) OnDataChange(nullptr);
      break;
    case TDataEvent::deLayoutChange:
      forEachLink([](TDataLink* l) { l->layoutChanged(); });
      break;
    case TDataEvent::deUpdateRecord:
      forEachLink([](TDataLink* l) { l->updateData(); });
      if (OnUpdateData) OnUpdateData();
      break;
    case TDataEvent::deCheckBrowseMode:
      forEachLink([](TDataLink* l) { l->checkBrowseMode(); });
      break;
    case TDataEvent::deConnectChange:
      forEachLink([info](TDataLink* l) { l->connectChanged(info != 0); });
      break;
  }
}

TDataLink::~TDataLink() {
  if (dataSource_) dataSource_->RemoveLink(this);
}

void TDataLink::SetDataSource(TDataSource* ds) {
  if (ds == dataSource_) return;
  if (dataSource_) dataSource_->RemoveLink(this);
  dataSource_ = ds;
  if (dataSource_) dataSource_->AddLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const {
  return dataSource_ ? dataSource_->DataSet() : nullptr;
}

bool TDataLink::Active() const {
  const TDataSet* ds = DataSet();
  return ds && ds->Active();
}

bool TDataLink::Editing() const {
  const TDataSet* ds = DataSet();
  return ds && (ds->State() == TDataSetState::dsEdit || ds->State() == TDataSetState::dsInsert);
}

void TDataLink::UpdateState() {
  const bool a = Active();
  if (a != active_) {
    active_ = a;
    activeChanged();
  }
  const bool e = Editing();
  if (e != editing_) {
    editing_ = e;
    editingChanged();
  }
}

}  // namespace qadj
