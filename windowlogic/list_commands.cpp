#include "windowlogic/list_commands.h"

namespace tarnwick::windowlogic {

namespace {

int NumberAt(const ListsView& view, List list, int row) {
    return view.Items(list).at(static_cast<std::size_t>(row)).number;
}

std::string PathAt(const ListsView& view, List list, int row) {
    return view.Items(list).at(static_cast<std::size_t>(row)).path;
}

}  // namespace

void UpdateListButtons(ListsView& view) {
    view.ShowCommands(AvailableCommands(view.SelectedRow(List::kSources) >= 0,
                                        view.SelectedRow(List::kDestinations) >= 0));
}

void LoadSourceList(ListsView& view) {
    view.BlankDetails(List::kSources);
    view.BlankDetails(List::kDestinations);
    view.ResetCount();
    view.ShowComputer();
    view.Fill(List::kSources, SourceItems());
}

void LoadDestinationList(ListsView& view, int group) {
    view.ShowComputer();
    view.Fill(List::kDestinations, DestinationItems(group));
}

void SourceSelectionChanged(ListsView& view) {
    view.BlankDetails(List::kSources);
    view.BlankDetails(List::kDestinations);
    view.Fill(List::kDestinations, {});
    const int source = view.SelectedRow(List::kSources);
    if (source < 0) {
        UpdateListButtons(view);
        return;
    }
    view.ShowFolderDetails(List::kSources, PathAt(view, List::kSources, source));
    LoadDestinationList(view, NumberAt(view, List::kSources, source));
    if (!view.Items(List::kDestinations).empty()) {
        view.Select(List::kDestinations, 0);
    }
    DestinationSelectionChanged(view);
}

void DestinationSelectionChanged(ListsView& view) {
    view.BlankDetails(List::kDestinations);
    const int destination = view.SelectedRow(List::kDestinations);
    if (destination >= 0) {
        view.ShowFolderDetails(List::kDestinations,
                               PathAt(view, List::kDestinations, destination));
    }
    UpdateListButtons(view);
}

bool AddSourceFolder(ListsView& view, FolderDialog& dialog,
                     const std::optional<std::string>& dropped) {
    const auto saved = NewSource(dialog, dropped);
    if (!saved) {
        return false;
    }
    LoadSourceList(view);
    if (!saved->added) {
        return false;
    }
    view.Select(List::kSources, FindPath(view.Items(List::kSources), saved->path));
    SourceSelectionChanged(view);
    return true;
}

bool AddDestinationFolder(ListsView& view, FolderDialog& dialog,
                          const std::optional<std::string>& dropped) {
    const int source = view.SelectedRow(List::kSources);
    if (source < 0) {
        return false;
    }
    const auto path = NewDestination(dialog, NumberAt(view, List::kSources, source), dropped);
    if (!path) {
        return false;
    }
    SourceSelectionChanged(view);
    const int added = FindPath(view.Items(List::kDestinations), *path);
    if (added < 0) {
        return false;
    }
    view.Select(List::kDestinations, added);
    DestinationSelectionChanged(view);
    return true;
}

void FinishSelectedChange(ListsView& view, FolderDialog& dialog, int group, int entry,
                          ChangeStart start) {
    const int source = view.SelectedRow(List::kSources);
    const int destination = view.SelectedRow(List::kDestinations);
    const bool stillSelected =
        source >= 0 && NumberAt(view, List::kSources, source) == group &&
        (entry == 1 ||
         (destination >= 0 && NumberAt(view, List::kDestinations, destination) == entry));
    if (!stillSelected || !FinishChange(dialog, group, entry, std::move(start))) {
        return;
    }
    if (entry == 1) {
        LoadSourceList(view);
        view.Select(List::kSources, source);
        SourceSelectionChanged(view);
    } else {
        SourceSelectionChanged(view);
        view.Select(List::kDestinations, destination);
        DestinationSelectionChanged(view);
    }
}

void DeleteSelectedSource(ListsView& view) {
    const int source = view.SelectedRow(List::kSources);
    if (source < 0) {
        return;
    }
    DeleteSource(NumberAt(view, List::kSources, source));
    LoadSourceList(view);
    view.Select(List::kSources, RowAfterDelete(source));
    SourceSelectionChanged(view);
}

void DeleteSelectedDestination(ListsView& view) {
    const int source = view.SelectedRow(List::kSources);
    const int destination = view.SelectedRow(List::kDestinations);
    if (source < 0 || destination < 0) {
        return;
    }
    DeleteDestination(NumberAt(view, List::kSources, source),
                      NumberAt(view, List::kDestinations, destination));
    SourceSelectionChanged(view);
    view.Select(List::kDestinations, RowAfterDelete(destination));
    DestinationSelectionChanged(view);
}

}  // namespace tarnwick::windowlogic
