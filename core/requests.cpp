#include "core/requests.h"

#include <cstring>

static_assert(sizeof(pthread_t) <= sizeof(intptr_t), "a thread identity must fit a sender field");

intptr_t senderValue(pthread_t thread)
{
    intptr_t v = 0;
    std::memcpy(&v, &thread, sizeof thread);
    return v;
}

pthread_t COMM_id;
pthread_t tWEBSd_id;
pthread_t tAPPLd_id;
pthread_t tSADMd_id;
pthread_t SCPI_id;
pthread_t MEAS_id;
pthread_t tBUS_id;
pthread_t tSDCARD_id;
pthread_t TRAD_id;
pthread_t ACQU_id;
pthread_t RTAC_id;
pthread_t tItAcq_id;
pthread_t MENU_id;

TTavlinMessageBox<pipe_dial>& o_g_consMessageBox = *new TTavlinMessageBox<pipe_dial>(kMessageBoxSlots);
TTavlinMessageBox<pipe_dial>& o_g_measMessageBox = *new TTavlinMessageBox<pipe_dial>(kMessageBoxSlots);
TTavlinMessageBox<pipe_dial>& o_g_busMessageBox = *new TTavlinMessageBox<pipe_dial>(kMessageBoxSlots);
TTavlinMessageBox<TLongArray>& o_g_acquMessageBox = *new TTavlinMessageBox<TLongArray>(kMessageBoxSlots);
