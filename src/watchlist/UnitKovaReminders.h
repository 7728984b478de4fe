#pragma once
// Reminders on the watch list's items: the moment to remind for each RemindType, the carry-over of the
// reminder fields from one list to the next by item number, and the reminders that have come due.

#include "base/UnitDateTime.h"

#include <string>
#include <vector>

class TDetailsList;

// The application data's tracker in front of an item link.
std::string TrackedLink(const std::string& link);

// The moment to remind: the end time less the type's lead (5, 15, 30 minutes, 1 hour, 3 hours, 1 day for
// types 1 to 6); 0 for type 0, an unknown type or an item without an end time.
TDateTime RemindTimeFor(TDateTime endTimeUTC, int remindType);

// Gives each item of the loaded list the reminder its namesake in the previous list had, its moment
// recomputed from the (maybe moved) end time; items new to the list get the default type (0 gives none).
// Items that left the list take their reminders with them.
void CarryOverReminders(const TDetailsList& previous, TDetailsList& loaded, int defaultType);

// One item's reminder as the host reports it.
struct TReminderState {
    std::string ItemId;
    int RemindType = 0;
    TDateTime RemindTime = 0;
    bool Reminded = false;
};

// Every item of the list that has a reminder, in list order.
std::vector<TReminderState> ListReminders(const TDetailsList& list);

// A reminder that came due: what the notification and the page show.
struct TDueReminder {
    std::string ItemId;
    std::string Title;
    std::string Price;
    std::string TimeLeft;
    std::string Url;
    // The item had ended already: the reminder is dropped, not given.
    bool Ended = false;
};

// Marks every due, not yet given reminder as given (Reminded) and returns them; those of items that have
// ended come back with Ended set.
std::vector<TDueReminder> TakeDueReminders(TDetailsList& list, TDateTime nowUTC);

// The earliest moment among reminders not yet given, or 0 when there is none.
TDateTime NextRemindTime(const TDetailsList& list);
