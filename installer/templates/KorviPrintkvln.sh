# KorviPrintkvln - print-queue interface script.
# The spooler named in the flag file decides how the call is read; every branch
# hands the job to the back end kprkvlntty of the application directory.

ToolPath="%s"
CfgFlags=`cat ${ToolPath}/.kp_cfg 2>/dev/null`

flConfig=
for flWord in $CfgFlags
do
	case "$flWord" in
	LPRng|V5|AIX|BSD|CUPS) flConfig=$flWord ;;
	esac
done

case "${flConfig:-V5}" in
AIX)	# AIX queue back end: the arguments go through unchanged
	cd ${ToolPath}
	${ToolPath}/AixInterface $*
	;;
BSD)	# BSD lpd filter, run in the queue's spool directory
	KavlonQueue=`pwd`
	KavlonPrinter=`basename $KavlonQueue`
	${ToolPath}/kpr%stty -d$KavlonPrinter -f >%s.log 2>%s.log
	;;
LPRng)	# LPRng: -P<queue> -d<spool dir> -e<files> -Z<options> -n<user> -h<host>
	KavlonFileSourceDir=`pwd`
	export KavlonFileSourceDir
	KavlonQueue=`printf '%%s\n' "$1" | sed -e "s/-P//"`
	SPOOL_DIR=`printf '%%s\n' "$2" | sed -e "s/-d//"`
	FFL=`printf '%%s\n' "$3" | sed -e "s#-e#${SPOOL_DIR}/#" -e "s#,# ${SPOOL_DIR}/#g"`
	options=`printf '%%s\n' "$4" | sed -e "s/-Z/-o/" -e "s/,/ -o/g"`
	KavlonUser_name=`printf '%%s\n' "$5" | sed -e "s/-n//"`
	KavlonHost_name=`printf '%%s\n' "$6" | sed -e "s/-h//"`
	cd ${ToolPath}
	${ToolPath}/kprkvlntty -d${KavlonQueue} -f $options $FFL 1>>/dev/null 2>>/dev/null
	exit 0
	;;
V5)	# System V interface: request-id user title copies options file...
	PATH=/usr/sbin:/usr/bin
	KavlonPrinter=`basename $0`
	KavlonRequest_id=$1
	KavlonUser_name=$2
	KavlonTitle=`printf '%%s\n' "$3" | sed -e "s/###[ 0-9A-z#].*//"`
	KavlonCopies=$4
	KavlonOption_list=$5
	export PATH KavlonPrinter KavlonRequest_id KavlonUser_name KavlonTitle KavlonCopies KavlonOption_list
	shift 5
	cd ${ToolPath}
	${ToolPath}/kpr%stty -d$KavlonPrinter -i $*
	;;
CUPS)	# CUPS: job-id user title copies options [file], the queue in PRINTER
	PATH=/usr/sbin:/usr/bin
	KavlonPrinter=$PRINTER
	KavlonRequest_id=$1
	KavlonUser_name=$2
	KavlonTitle=$3
	KavlonCopies=$4
	KavlonOption_list=$5
	export PATH KavlonPrinter KavlonRequest_id KavlonUser_name KavlonTitle KavlonCopies KavlonOption_list
	shift 5
	cd ${ToolPath}
	${ToolPath}/kpr%stty -d$KavlonPrinter -i $*
	;;
esac
