#pragma once
// The main window's list commands as a sequence of steps on the two lists: what is refilled,
// what is selected afterwards and which selection handler runs, in the order the window defines.
// Each toolkit shows the lists through ListsView; settings errors (SettingsError) pass through
// to the command handler that shows them.

#include <optional>
#include <string>

#include "windowlogic/folder_lists.h"

namespace tarnwick::windowlogic {

enum class List { kSources, kDestinations };

// The two lists and their details lines as a toolkit shows them.
class ListsView {
public:
    virtual ~ListsView() = default;
    // The selected row; -1 when nothing is selected.
    virtual int SelectedRow(List list) const = 0;
    virtual ListItems Items(List list) const = 0;
    // Selects a row without running the selection handler; a row outside the list selects none.
    virtual void Select(List list, int row) = 0;
    virtual void Fill(List list, const ListItems& items) = 0;
    // Each of the line's three labels holds a single blank; an answer still on its way for the
    // line is dropped.
    virtual void BlankDetails(List list) = 0;
    // Describes the disk of `path` in the line (the volume is asked off the user-interface
    // thread).
    virtual void ShowFolderDetails(List list, const std::string& path) = 0;
    // Shows the computer's name, when it can be had.
    virtual void ShowComputer() = 0;
    // Sets the buttons and the destination list's drops after AvailableCommands.
    virtual void ShowCommands(const ListCommands& commands) = 0;
    // The count of copied files shows 0.
    virtual void ResetCount() = 0;
};

// Blanks both details lines, resets the count, shows the computer's name and fills the source
// list, with nothing selected; the destination list is left as it was.
void LoadSourceList(ListsView& view);

// The selection handlers: a change of source refills the destinations, selects the first and
// describes it; a change of destination describes it.
void SourceSelectionChanged(ListsView& view);
void DestinationSelectionChanged(ListsView& view);
void UpdateListButtons(ListsView& view);
void LoadDestinationList(ListsView& view, int group);

// New source and New destination, with the dialog's path empty or a dropped folder. True when a
// folder was added and selected.
bool AddSourceFolder(ListsView& view, FolderDialog& dialog,
                     const std::optional<std::string>& dropped);
bool AddDestinationFolder(ListsView& view, FolderDialog& dialog,
                          const std::optional<std::string>& dropped);
// The second step of Change of a group's source (entry 1) or of a destination, once the stored
// folder has been read off the user-interface thread (ReadForChange): the dialog opens only while
// that folder is still the one selected; after Save the folder is written and the lists are
// filled anew with it selected.
void FinishSelectedChange(ListsView& view, FolderDialog& dialog, int group, int entry,
                          ChangeStart start);
// Delete of the selected source or destination; nothing without a selection.
void DeleteSelectedSource(ListsView& view);
void DeleteSelectedDestination(ListsView& view);

}  // namespace tarnwick::windowlogic
