// The judgement every transport makes of what it received.

#include "port/uTransport.h"

#include "port/uAnswerFit.h"
#include "port/uModbusCRC.h"

uint32_t JudgeAnswer(const uint8_t *aRequest, uint32_t aRequestLen, const uint8_t *aAnswer, uint32_t aCount)
{
    if (aCount == 0)
        return ErrNoAnswer;
    if (!CheckModbusCRC(aAnswer, int(aCount)))
        return ErrAnswerCRC;
    // Another request's answer (a late one, another slave's): this request got none.
    if (!AnswerFitsRequest(aRequest, aRequestLen, aAnswer, aCount))
        return ErrNoAnswer;
    return ErrAnswerOK;
}
